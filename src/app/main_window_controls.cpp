// The main window's controls: where each one sits, what it says and what its
// hint explains, as one table, and the code that makes the widgets from it. The
// behaviour behind the controls is in main_window.cpp.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTreeView>
#include <QUrl>
#include <algorithm>

#include "app/main_window.h"
#include "app/widgets.h"
#include "platform/version.h"

namespace parevo {

namespace {

// One control: its object name, its place in its parent, its text and its hint
// (lines separated by '\n'). A label's width and height come from its text.
// The object names are those of the window's first layout: tests and the
// accessibility tree find the controls by them, so they stay as they are.
struct Control {
    const char* name;
    QRect place;
    const char* text = "";
    const char* hint = nullptr;
};

// The window and the list area.
constexpr QSize kClientSize{461, 481};
constexpr Control kPanel{"Panel", {6, 8, 449, 449}};
constexpr Control kListHeading{
    "TntLabel3", {8, 2, 0, 0}, "files to be trimmed (.nds, .zip & .rar):"};
constexpr Control kDropGames{"DropGames", {8, 16, 433, 177}};
constexpr Control kRomsMenu{"RomsMenu", {}};
constexpr Control kClearList{"ClearlistMenuItem", {}, "Clear list"};
constexpr Control kRomInfo{"RomInfoMenuItem", {}, "ROM information…"};
constexpr Control kLogHeading{"TntLabel2", {8, 194, 0, 0}, "log:"};
constexpr Control kProgressText{"ProgressText", {}, "drag & drop files above"};
// The status line is right-aligned at x = 438 and grows to the left, never past
// the log's left edge.
constexpr int kProgressTextRight = 438;
constexpr int kProgressTextTop = 194;
constexpr int kProgressTextHeight = 13;
constexpr int kProgressTextMinLeft = 8;
constexpr Control kLog{"Log", {8, 208, 433, 73}};
constexpr Control kLoading{"Label10", {168, 344, 0, 0}, "Loading preferences..."};
constexpr Control kLink{"Link", {132, 464, 316, 12}, "Parevo v%1 - %2 (click for website)"};

// The option pages.
constexpr Control kOptionPages{"OptionPages", {12, 296, 437, 153}};
constexpr Control kPathPage{"PathPage", {}, "Basic Options"};
constexpr Control kCustomPath{"CustomPath",
                              {0, 2, 17, 17},
                              "",
                              "by default, roms are saved to the same directory\n"
                              "they are trimmed from.  If you would like to use a\n"
                              "custom directory, check this and pick a path."};
constexpr Control kPath{"Path", {18, 4, 248, 106}};
constexpr Control kPathText{"PathText", {0, 112, 0, 0}};
constexpr Control kProgress{"Progress", {272, 4, 153, 33}};
constexpr Control kTrimGames{"TrimGames", {272, 46, 153, 35}, "Trim Games"};
constexpr Control kDeleteSource{"DeleteSource", {272, 88, 153, 17}, "Delete source after trim"};
constexpr Control kOptionsPage{"OptionsPage", {}, "Advanced Options"};
constexpr Control kSafeTrim{"SafeTrim",
                            {10, 10, 60, 17},
                            "Safe trim",
                            "leave extra space after the end of the rom\n"
                            "to make sure overtrimming does not occur.  This\n"
                            "acts as a second level of protection in addition\n"
                            "to the already robust and safe trimming method."};
constexpr Control kByteJumpLabel{"TntLabel", {10, 36, 0, 0}, "Byte jump size:"};
constexpr Control kByteJump{"byteJump",
                            {86, 30, 73, 22},
                            "",
                            "\"jump\" distance while looking for game data in rom.\n"
                            "The larger the jump used, the faster the game data\n"
                            "will be found, but at the cost of less of a trim; approx.\n"
                            "the size of the jump in bytes."};
constexpr Control kAppendLabel{"TntLabel5", {212, 12, 0, 0}, "Append text:"};
constexpr Control kAppendText{"AppendText",
                              {276, 8, 73, 21},
                              "_trim",
                              "specify text to append to the end of the filename.\n"
                              "If blank, the output file will overwrite the source\n"
                              "unless you have specified a different directory to save to."};
constexpr Control kTrimSceneNumber{"TrimSceneNumber",
                                   {210, 34, 111, 17},
                                   "Trim scene number",
                                   "trim scene number from the rom filename before saving."};
constexpr Control kHeaderRomName{"HeaderRomName", {210, 58, 151, 17}, "Use name in rom header"};
constexpr Control kDatLabel{"DatFileLabel", {10, 90, 0, 0}, "DAT file:"};
constexpr Control kDatFile{"DatFile",
                           {60, 86, 270, 21},
                           "",
                           "a DAT file (as No-Intro publishes them) to check every rom\n"
                           "against, before it is trimmed and after: the log says whether\n"
                           "it verified.  Leave it blank to check nothing."};
constexpr Control kDatFileButton{
    "DatFileButton", {338, 85, 82, 23}, "Choose…", "pick the DAT file to check roms against."};

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

template <class Widget>
Widget* Named(Widget* widget, const Control& control) {
    widget->setObjectName(QString::fromLatin1(control.name));
    if (control.hint != nullptr) {
        widget->setToolTip(Text(control.hint));
    }
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const Control& control) {
    auto* label = Named(new QLabel(Text(control.text), parent), control);
    label->setTextFormat(Qt::PlainText);
    label->move(control.place.topLeft());
    label->adjustSize();
    return label;
}

// The layout was drawn for a font that most systems lack; the one standing in
// for it may be wider. A control then grows to show its whole text, and a field
// beside a label moves right to clear it.
constexpr int kLabelGap = 4;

void FitText(QWidget* control) {
    const int natural = control->sizeHint().width();
    if (natural > control->width()) {
        control->resize(natural, control->height());
    }
}

void PlaceAfter(QWidget* field, const QWidget* label) {
    const int clear = label->x() + label->width() + kLabelGap;
    if (field->x() < clear) {
        field->move(clear, field->y());
    }
}

QCheckBox* MakeCheckBox(QWidget* parent, const Control& control, bool checked) {
    auto* box = Named(new QCheckBox(Text(control.text), parent), control);
    box->setGeometry(control.place);
    FitText(box);
    box->setChecked(checked);
    box->setAccessibleName(Text(control.text));
    return box;
}

}  // namespace

void MainWindow::CreateControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Caption());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientSize);
    setFont(UiFont(QStringLiteral("MS Sans Serif"), 8));
    setAcceptDrops(true);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    m_panel = Named(new QFrame(this), kPanel);
    m_panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_panel->setGeometry(kPanel.place);

    MakeLabel(m_panel, kListHeading);
    m_dropGames = Named(new QListWidget(m_panel), kDropGames);
    m_dropGames->setGeometry(kDropGames.place);
    m_dropGames->setSelectionMode(QAbstractItemView::SingleSelection);
    m_dropGames->setSortingEnabled(false);
    m_dropGames->setUniformItemSizes(true);
    m_dropGames->setAccessibleName(Text(kListHeading.text));
    m_dropGames->setContextMenuPolicy(Qt::CustomContextMenu);
    m_dropGames->installEventFilter(this);
    connect(m_dropGames, &QListWidget::itemChanged, this, [this](QListWidgetItem*) {
        if (!m_changingMarks) {
            ClearMarks();
        }
    });

    m_romsMenu = Named(new QMenu(m_dropGames), kRomsMenu);
    m_clearlistMenuItem = Named(m_romsMenu->addAction(Text(kClearList.text)), kClearList);
    connect(m_clearlistMenuItem, &QAction::triggered, this, &MainWindow::ClearList);
    m_romInfoMenuItem = Named(m_romsMenu->addAction(Text(kRomInfo.text)), kRomInfo);
    connect(m_romInfoMenuItem, &QAction::triggered, this, &MainWindow::ShowRomInfo);
    connect(m_dropGames, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // The information is about the entry under the mouse, or the selected one.
        if (QListWidgetItem* item = m_dropGames->itemAt(pos)) {
            m_dropGames->setCurrentItem(item);
        }
        m_romInfoMenuItem->setEnabled(!m_running && !m_dropGames->selectedItems().isEmpty());
        m_romsMenu->popup(m_dropGames->viewport()->mapToGlobal(pos));
    });

    MakeLabel(m_panel, kLogHeading);
    m_progressText = Named(new QLabel(m_panel), kProgressText);
    m_progressText->setTextFormat(Qt::PlainText);
    m_progressText->setAlignment(Qt::AlignRight | Qt::AlignTop);
    m_progressText->setText(Text(kProgressText.text));
    PlaceProgressText();

    m_log = Named(new QListWidget(m_panel), kLog);
    m_log->setGeometry(kLog.place);
    m_log->setSelectionMode(QAbstractItemView::SingleSelection);
    m_log->setUniformItemSizes(true);
    m_log->setAccessibleName(QStringLiteral("log"));

    // Covered by the option pages once they show.
    MakeLabel(m_panel, kLoading);

    CreateOptionPages();

    m_link = Named(new QLabel(this), kLink);
    m_link->setTextFormat(Qt::PlainText);
    const QUrl website(WebsiteUrl());
    const QString site =
        website.isLocalFile() ? QFileInfo(website.toLocalFile()).fileName() : website.host();
    m_link->setText(Text(kLink.text).arg(QString::fromLatin1(kProgramVersion), site));
    QFont linkFont = UiFont(QStringLiteral("Lucida Sans"), 8);
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    m_link->setFont(linkFont);
    QPalette linkPalette = m_link->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    linkPalette.setColor(QPalette::Window, linkPalette.color(QPalette::Button));
    m_link->setPalette(linkPalette);
    m_link->setAutoFillBackground(true);
    m_link->setCursor(Qt::PointingHandCursor);
    m_link->setGeometry(kLink.place);
    m_link->setAccessibleName(m_link->text());
    m_link->setAccessibleDescription(website.toString());
    // Reachable without a mouse: Tab brings it into focus, Return or Space opens it.
    m_link->setFocusPolicy(Qt::TabFocus);
    m_link->installEventFilter(this);
}

void MainWindow::CreateOptionPages() {
    m_optionPages = Named(new QTabWidget(this), kOptionPages);
    m_optionPages->setGeometry(kOptionPages.place);
    m_optionPages->setAccessibleName(QStringLiteral("Options"));

    // "Basic Options": where the output goes, the gauge and the button.
    m_pathPage = Named(new QWidget(), kPathPage);
    m_optionPages->addTab(m_pathPage, Text(kPathPage.text));

    m_customPath = MakeCheckBox(m_pathPage, kCustomPath, false);
    m_customPath->setAccessibleName(QStringLiteral("Save to a custom output folder"));
    connect(m_customPath, &QCheckBox::toggled, this, &MainWindow::UpdateFolderTreeEnabled);

    m_folders = new QFileSystemModel(this);
    m_folders->setObjectName(QStringLiteral("PathModel"));
    m_folders->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    m_folders->setReadOnly(false);  // folders can be renamed in place
    m_folders->setRootPath(QDir::rootPath());
    m_path = Named(new QTreeView(m_pathPage), kPath);
    m_path->setModel(m_folders);
    for (int column = 1; column < m_folders->columnCount(); ++column) {
        m_path->hideColumn(column);
    }
    m_path->setHeaderHidden(true);
    m_path->setRootIsDecorated(false);
    m_path->setIndentation(19);
    m_path->setSelectionMode(QAbstractItemView::SingleSelection);
    m_path->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    m_path->setGeometry(kPath.place);
    m_path->setAccessibleName(QStringLiteral("Output folder"));
    m_path->setEnabled(false);
    m_path->expand(m_folders->index(QDir::rootPath()));
    // The folders load in the background; keep a folder chosen by the program in
    // view as its ancestors fill in, until the user picks another.
    connect(m_folders, &QFileSystemModel::directoryLoaded, this, [this](const QString&) {
        if (!m_scrollTarget.isEmpty()) {
            m_path->scrollTo(m_folders->index(m_scrollTarget));
        }
    });
    connect(m_path->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (m_folders->filePath(current) != m_scrollTarget) {
                    m_scrollTarget.clear();
                }
                if (current.isValid()) {
                    m_missingFolder.clear();
                }
            });

    m_pathText = MakeLabel(m_pathPage, kPathText);

    m_progress = Named(new Gauge(m_pathPage), kProgress);
    m_progress->setGeometry(kProgress.place);
    m_progress->SetMaxValue(100);
    m_progress->SetProgress(0);
    m_progress->setAccessibleName(QStringLiteral("Progress"));

    m_trimGames = Named(new QPushButton(Text(kTrimGames.text), m_pathPage), kTrimGames);
    m_trimGames->setFont(UiFont(QStringLiteral("MS Sans Serif"), 10));
    m_trimGames->setGeometry(kTrimGames.place);
    m_trimGames->setEnabled(false);
    m_trimGames->setAccessibleName(Text(kTrimGames.text));
    connect(m_trimGames, &QPushButton::clicked, this, &MainWindow::TrimGames);

    m_deleteSource = MakeCheckBox(m_pathPage, kDeleteSource, false);

    // "Advanced Options": the search and the naming.
    m_optionsPage = Named(new QWidget(), kOptionsPage);
    m_optionPages->addTab(m_optionsPage, Text(kOptionsPage.text));

    m_safeTrim = MakeCheckBox(m_optionsPage, kSafeTrim, true);

    const QLabel* byteJumpLabel = MakeLabel(m_optionsPage, kByteJumpLabel);
    m_byteJump = Named(new ByteJumpBox(m_optionsPage), kByteJump);
    m_byteJump->setGeometry(kByteJump.place);
    PlaceAfter(m_byteJump, byteJumpLabel);
    m_byteJump->setAccessibleName(QStringLiteral("Byte jump size"));

    const QLabel* appendLabel = MakeLabel(m_optionsPage, kAppendLabel);
    m_appendText = Named(new QLineEdit(Text(kAppendText.text), m_optionsPage), kAppendText);
    m_appendText->setGeometry(kAppendText.place);
    PlaceAfter(m_appendText, appendLabel);
    m_appendText->setAcceptDrops(false);  // files dropped here go to the ROM list
    m_appendText->setAccessibleName(QStringLiteral("Append text"));

    m_trimSceneNumber = MakeCheckBox(m_optionsPage, kTrimSceneNumber, false);
    m_headerRomName = MakeCheckBox(m_optionsPage, kHeaderRomName, false);

    const QLabel* datLabel = MakeLabel(m_optionsPage, kDatLabel);
    m_datFile = Named(new QLineEdit(m_optionsPage), kDatFile);
    m_datFile->setGeometry(kDatFile.place);
    PlaceAfter(m_datFile, datLabel);
    m_datFile->setAcceptDrops(false);  // files dropped here go to the ROM list
    m_datFile->setAccessibleName(QStringLiteral("DAT file"));
    m_datFileButton =
        Named(new QPushButton(Text(kDatFileButton.text), m_optionsPage), kDatFileButton);
    m_datFileButton->setGeometry(kDatFileButton.place);
    FitText(m_datFileButton);
    m_datFileButton->setAccessibleName(QStringLiteral("Choose the DAT file"));
    connect(m_datFileButton, &QPushButton::clicked, this, &MainWindow::ChooseDatFile);

    m_optionPages->setCurrentWidget(m_pathPage);
    m_optionPages->hide();
}

void MainWindow::SetKeyboardOrder() {
    // Within the list area the log comes first; then the option pages, each
    // page in its own order. Qt skips what is hidden or disabled.
    const QList<QWidget*> order{m_log,          m_dropGames,     m_optionPages,
                                m_path,         m_trimGames,     m_customPath,
                                m_deleteSource, m_appendText,    m_trimSceneNumber,
                                m_safeTrim,     m_byteJump,      m_headerRomName,
                                m_datFile,      m_datFileButton, m_link};
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void MainWindow::PlaceProgressText() {
    const int width = m_progressText->sizeHint().width();
    const int left = std::max(kProgressTextMinLeft, kProgressTextRight - width);
    m_progressText->setGeometry(left, kProgressTextTop, kProgressTextRight - left,
                                kProgressTextHeight);
}

}  // namespace parevo
