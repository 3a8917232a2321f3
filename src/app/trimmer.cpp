#include "app/trimmer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <algorithm>

#include "app/controls.h"
#include "app/hint_timing.h"
#include "app/progress_form.h"
#include "app/qt_prompter.h"
#include "platform/file_io.h"
#include "platform/qt/qt_recycler.h"
#include "platform/version.h"
#include "trim/archive_step.h"

#ifndef PAREVO_WEBSITE_URL
#define PAREVO_WEBSITE_URL "file:///usr/local/share/doc/parevo/README.md"
#endif

namespace parevo {

namespace {

constexpr int kClientWidth = 461;
constexpr int kClientHeight = 481;
constexpr int kTimerInterval = 100;
constexpr int kProgressTextRight = 438;  // the status line grows to the left
constexpr int kProgressTextTop = 194;
constexpr int kProgressTextHeight = 13;
constexpr int kProgressTextMinLeft = 8;  // never past the log's left edge
// While the core works, the window handles pending events at least this often
// (when the core reports), so it keeps painting and answers the desktop's
// "are you alive" checks without a second thread.
constexpr qint64 kBreathInterval = 50;
// Shortest time between two paints of a running count in the status line.
constexpr qint64 kStatusFrame = 16;

QString Lines(std::initializer_list<const char*> lines) {
    QStringList list;
    for (const char* line : lines) {
        list << QString::fromUtf8(line);
    }
    return list.join(QLatin1Char('\n'));
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->move(left, top);
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

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text, const QRect& rect,
                        bool checked) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(rect);
    FitText(box);
    box->setChecked(checked);
    box->setAccessibleName(text);
    return box;
}

// A ROM list entry; it owns its TPathObj.
class TRomEntry final : public QListWidgetItem {
  public:
    explicit TRomEntry(TPathObj pathObj) : m_pathObj(std::move(pathObj)) {
        const QString fullPath = FromNarrow(m_pathObj.FullPath);
        QString name = FromNarrow(FileNamePart(m_pathObj.FullPath));
        setText(name.isEmpty() ? fullPath : name);
        // Screen readers can tell two entries of the same name apart.
        setData(Qt::AccessibleDescriptionRole, fullPath);
        setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        setCheckState(Qt::Unchecked);
    }
    const TPathObj& PathObj() const { return m_pathObj; }

  private:
    TPathObj m_pathObj;
};

// True when two texts differ only in their figures (decimal or upper-case hex
// digits), as one progress report differs from the one before.
bool OnlyNumbersDiffer(const QString& a, const QString& b) {
    if (a.size() != b.size()) {
        // Figures may grow by a digit; compare with the figures taken out.
        static const QRegularExpression figures(QStringLiteral("[0-9A-F]+"));
        return QString(a).remove(figures) == QString(b).remove(figures);
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        const bool figure =
            a[i].isDigit() || (a[i] >= QLatin1Char('A') && a[i] <= QLatin1Char('F'));
        if (a[i] != b[i] && !figure) {
            return false;
        }
    }
    return true;
}

// The local files and folders of a drag, in the order delivered.
QStringList LocalPaths(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            paths << url.toLocalFile();
        }
    }
    return paths;
}

QString StartFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir()) {
        return desktop;
    }
    return QDir::homePath();
}

}  // namespace

QStringList CommandLinePaths(const QStringList& arguments, const QString& folder) {
    QStringList paths;
    const QDir base(folder);
    for (const QString& argument : arguments) {
        if (!argument.isEmpty()) {
            paths << QDir::cleanPath(base.absoluteFilePath(argument));
        }
    }
    return paths;
}

QString TForm1::Caption() {
    return QStringLiteral("Parevo v1.3 | NDS Rom Trimmer - 9.10.07");
}

QString TForm1::ApplicationTitle() {
    return QStringLiteral("Parevo");
}

QString TForm1::WebsiteUrl() {
    return QString::fromUtf8(PAREVO_WEBSITE_URL);
}

TForm1::TForm1(TForm1Services services) : m_services(std::move(services)) {
    if (m_services.prompter != nullptr) {
        m_prompter = m_services.prompter;
    } else {
        m_ownPrompter = std::make_unique<QtPrompter>(this);
        m_prompter = m_ownPrompter.get();
    }
    if (m_services.recycler != nullptr) {
        m_recycler = m_services.recycler;
    } else {
        m_ownRecycler = std::make_unique<QtRecycler>();
        m_recycler = m_ownRecycler.get();
    }
    m_zip = std::make_unique<TZip>(*m_prompter);
    m_rar = std::make_unique<TDFUnRar>();

    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Caption());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(UiFont(QStringLiteral("MS Sans Serif"), 8));
    setAcceptDrops(true);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    CreateControls();
    SetKeyboardOrder();
    CreateTrimEnvironment();
    FormCreate();

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer"));
    m_timer->setInterval(kTimerInterval);
    connect(m_timer, &QTimer::timeout, this, &TForm1::TimerTimer);
    m_timer->start();
}

TForm1::~TForm1() {
    // The controls and the folder model go while the components and the run's
    // environment that their handlers reach still exist.
    m_timer->stop();
    const QObjectList children = this->children();
    for (QObject* child : children) {
        delete child;
    }
}

void TForm1::CreateControls() {
    m_panel = new QFrame(this);
    m_panel->setObjectName(QStringLiteral("Panel"));
    m_panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_panel->setGeometry(6, 8, 449, 449);

    const QString listHeading = QStringLiteral("files to be trimmed (.nds, .zip & .rar):");
    MakeLabel(m_panel, "TntLabel3", listHeading, 8, 2);

    m_dropGames = new QListWidget(m_panel);
    m_dropGames->setObjectName(QStringLiteral("DropGames"));
    m_dropGames->setGeometry(8, 16, 433, 177);
    m_dropGames->setSelectionMode(QAbstractItemView::SingleSelection);
    m_dropGames->setSortingEnabled(false);
    m_dropGames->setUniformItemSizes(true);
    m_dropGames->setAccessibleName(listHeading);
    m_dropGames->setContextMenuPolicy(Qt::CustomContextMenu);
    m_dropGames->installEventFilter(this);
    connect(m_dropGames, &QListWidget::itemChanged, this, [this](QListWidgetItem*) {
        if (!m_changingMarks) {
            DropGamesClickCheck();
        }
    });

    m_romsMenu = new QMenu(m_dropGames);
    m_romsMenu->setObjectName(QStringLiteral("RomsMenu"));
    m_clearlistMenuItem = m_romsMenu->addAction(QStringLiteral("Clear list"));
    m_clearlistMenuItem->setObjectName(QStringLiteral("ClearlistMenuItem"));
    connect(m_clearlistMenuItem, &QAction::triggered, this, &TForm1::ClearlistMenuItemClick);
    connect(m_dropGames, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        m_romsMenu->popup(m_dropGames->viewport()->mapToGlobal(pos));
    });

    MakeLabel(m_panel, "TntLabel2", QStringLiteral("log:"), 8, 194);

    m_progressText = new QLabel(m_panel);
    m_progressText->setObjectName(QStringLiteral("ProgressText"));
    m_progressText->setTextFormat(Qt::PlainText);
    m_progressText->setAlignment(Qt::AlignRight | Qt::AlignTop);
    m_progressText->setText(QStringLiteral("drag & drop files above"));
    PlaceProgressText();

    m_log = new QListWidget(m_panel);
    m_log->setObjectName(QStringLiteral("Log"));
    m_log->setGeometry(8, 208, 433, 73);
    m_log->setSelectionMode(QAbstractItemView::SingleSelection);
    m_log->setUniformItemSizes(true);
    m_log->setAccessibleName(QStringLiteral("log"));

    // Covered by the option pages once they show.
    MakeLabel(m_panel, "Label10", QStringLiteral("Loading preferences..."), 168, 344);

    CreateOptionPages();

    m_link = new QLabel(this);
    m_link->setObjectName(QStringLiteral("Link"));
    m_link->setTextFormat(Qt::PlainText);
    const QUrl website(WebsiteUrl());
    const QString site =
        website.isLocalFile() ? QFileInfo(website.toLocalFile()).fileName() : website.host();
    m_link->setText(QStringLiteral("Parevo v%1 - %2 (click for website)")
                        .arg(QString::fromLatin1(kProgramVersion), site));
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
    m_link->setGeometry(132, 464, 316, 12);
    m_link->setAccessibleName(m_link->text());
    m_link->setAccessibleDescription(website.toString());
    // Reachable without a mouse: Tab brings it into focus, Return or Space opens it.
    m_link->setFocusPolicy(Qt::TabFocus);
    m_link->installEventFilter(this);
}

void TForm1::CreateOptionPages() {
    m_optionPages = new QTabWidget(this);
    m_optionPages->setObjectName(QStringLiteral("OptionPages"));
    m_optionPages->setGeometry(12, 296, 437, 153);
    m_optionPages->setAccessibleName(QStringLiteral("Options"));

    // "Basic Options": where the output goes, the gauge and the button.
    m_pathPage = new QWidget();
    m_pathPage->setObjectName(QStringLiteral("PathPage"));
    m_optionPages->addTab(m_pathPage, QStringLiteral("Basic Options"));

    m_customPath = MakeCheckBox(m_pathPage, "CustomPath", QString(), QRect(0, 2, 17, 17), false);
    m_customPath->setAccessibleName(QStringLiteral("Save to a custom output folder"));
    m_customPath->setToolTip(Lines({"by default, roms are saved to the same directory",
                                    "they are trimmed from.  If you would like to use a",
                                    "custom directory, check this and pick a path."}));
    connect(m_customPath, &QCheckBox::toggled, this, &TForm1::CustomPathClick);

    m_folders = new QFileSystemModel(this);
    m_folders->setObjectName(QStringLiteral("PathModel"));
    m_folders->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    m_folders->setReadOnly(false);  // folders can be renamed in place
    m_folders->setRootPath(QDir::rootPath());
    m_path = new QTreeView(m_pathPage);
    m_path->setObjectName(QStringLiteral("Path"));
    m_path->setModel(m_folders);
    for (int column = 1; column < m_folders->columnCount(); ++column) {
        m_path->hideColumn(column);
    }
    m_path->setHeaderHidden(true);
    m_path->setRootIsDecorated(false);
    m_path->setIndentation(19);
    m_path->setSelectionMode(QAbstractItemView::SingleSelection);
    m_path->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    m_path->setGeometry(18, 4, 248, 106);
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

    m_pathText = MakeLabel(m_pathPage, "PathText", QString(), 0, 112);

    m_progress = new TGauge(m_pathPage);
    m_progress->setObjectName(QStringLiteral("Progress"));
    m_progress->setGeometry(272, 4, 153, 33);
    m_progress->SetMaxValue(100);
    m_progress->SetProgress(0);
    m_progress->setAccessibleName(QStringLiteral("Progress"));

    m_trimGames = new QPushButton(QStringLiteral("Trim Games"), m_pathPage);
    m_trimGames->setObjectName(QStringLiteral("TrimGames"));
    m_trimGames->setFont(UiFont(QStringLiteral("MS Sans Serif"), 10));
    m_trimGames->setGeometry(272, 46, 153, 35);
    m_trimGames->setEnabled(false);
    m_trimGames->setAccessibleName(QStringLiteral("Trim Games"));
    connect(m_trimGames, &QPushButton::clicked, this, &TForm1::TrimGamesClick);

    m_deleteSource =
        MakeCheckBox(m_pathPage, "DeleteSource", QStringLiteral("Delete source after trim"),
                     QRect(272, 88, 153, 17), false);

    // "Advanced Options": the search and the naming.
    m_optionsPage = new QWidget();
    m_optionsPage->setObjectName(QStringLiteral("OptionsPage"));
    m_optionPages->addTab(m_optionsPage, QStringLiteral("Advanced Options"));

    m_safeTrim = MakeCheckBox(m_optionsPage, "SafeTrim", QStringLiteral("Safe trim"),
                              QRect(10, 10, 60, 17), true);
    m_safeTrim->setToolTip(Lines({"leave extra space after the end of the rom",
                                  "to make sure overtrimming does not occur.  This",
                                  "acts as a second level of protection in addition",
                                  "to the already robust and safe trimming method."}));

    const QLabel* byteJumpLabel =
        MakeLabel(m_optionsPage, "TntLabel", QStringLiteral("Byte jump size:"), 10, 36);
    m_byteJump = new ByteJumpBox(m_optionsPage);
    m_byteJump->setObjectName(QStringLiteral("byteJump"));
    m_byteJump->setGeometry(86, 30, 73, 22);
    PlaceAfter(m_byteJump, byteJumpLabel);
    m_byteJump->setAccessibleName(QStringLiteral("Byte jump size"));
    m_byteJump->setToolTip(Lines({"\"jump\" distance while looking for game data in rom.",
                                  "The larger the jump used, the faster the game data",
                                  "will be found, but at the cost of less of a trim; approx.",
                                  "the size of the jump in bytes."}));

    const QLabel* appendLabel =
        MakeLabel(m_optionsPage, "TntLabel5", QStringLiteral("Append text:"), 212, 12);
    m_appendText = new QLineEdit(QStringLiteral("_trim"), m_optionsPage);
    m_appendText->setObjectName(QStringLiteral("AppendText"));
    m_appendText->setGeometry(276, 8, 73, 21);
    PlaceAfter(m_appendText, appendLabel);
    m_appendText->setAcceptDrops(false);  // files dropped here go to the ROM list
    m_appendText->setAccessibleName(QStringLiteral("Append text"));
    m_appendText->setToolTip(
        Lines({"specify text to append to the end of the filename.",
               "If blank, the output file will overwrite the source",
               "unless you have specified a different directory to save to."}));

    m_trimSceneNumber =
        MakeCheckBox(m_optionsPage, "TrimSceneNumber", QStringLiteral("Trim scene number"),
                     QRect(210, 34, 111, 17), false);
    m_trimSceneNumber->setToolTip(
        Lines({"trim scene number from the rom filename before saving."}));
    m_headerRomName =
        MakeCheckBox(m_optionsPage, "HeaderRomName", QStringLiteral("Use name in rom header"),
                     QRect(210, 58, 151, 17), false);

    m_optionPages->setCurrentWidget(m_pathPage);
    m_optionPages->hide();
}

void TForm1::SetKeyboardOrder() {
    // Within the list area the log comes first; then the option pages, each
    // page in its own order. Qt skips what is hidden or disabled.
    const QList<QWidget*> order{
        m_log,          m_dropGames,  m_optionPages,     m_path,     m_trimGames, m_customPath,
        m_deleteSource, m_appendText, m_trimSceneNumber, m_safeTrim, m_byteJump,  m_headerRomName,
        m_link};
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void TForm1::FormCreate() {
    // Drops are taken by the window itself (setAcceptDrops above); none of its
    // controls takes them, so a drop anywhere reaches FormDropFiles.
    CustomPathClick();
    SelectFolder(ToNarrow(QDir::toNativeSeparators(StartFolder())));
}

void TForm1::CreateTrimEnvironment() {
    ConfigureArchiveComponents(*m_zip, *m_rar,
                               [this](const std::string& text) { SetProgressText(text); });
    m_zip->Caption = ToNarrow(ApplicationTitle());
    m_zip->ProcessMessages = [] { QCoreApplication::processEvents(); };
    m_zip->CreateProgressForm = QtProgressFormFactory(ApplicationTitle(), this);
    m_rar->SetPrompter(m_prompter);

    m_env.AddLog = [this](const std::string& line) { AddLog(line); };
    m_env.SetStatus = [this](const std::string& text) { SetProgressText(text); };
    m_env.KeepAlive = [this] { Breathe(); };
    m_env.Options = [this] { return ToTrimOptions(*this); };
    m_env.recycler = m_recycler;
    m_env.tick = &m_tick;
    // The zip component would make an empty archive where the file has gone
    // since it was dropped; that is an error to show, not a file to create.
    m_env.archiveStep = [step = MakeArchiveStep(*m_zip, *m_rar)](ArchiveStepState& state,
                                                                 const TrimEnvironment& env) {
        const InputFile archive(state.entryPath);
        step(state, env);
    };
}

// ---- Timer and start -----------------------------------------------------------

void TForm1::TimerTimer() {
    m_trimGames->setEnabled(m_dropGames->count() > 0 && !m_running);
    UpdatePathText();
    if (m_firstTick) {
        // Turned off before the load: a failed load is reported once, and the
        // message box's own event loop must not start it again on the next tick.
        m_firstTick = false;
        LoadPreferences();
    }
}

void TForm1::LoadPreferences() {
    m_appManager =
        std::make_unique<TAppManager>(m_services.executablePath, *this, m_services.config);
    std::optional<std::string> error;
    try {
        m_appManager->Init();
    } catch (const std::exception& e) {
        error = e.what();
    }
    // The tree cannot show a folder that is not there; it stays the chosen one,
    // with nothing selected in the tree, rather than quietly becoming the Desktop.
    if (const TQuillSettings* settings = m_appManager->AppSettings();
        settings != nullptr && !settings->PassedOverDirectory().empty()) {
        m_scrollTarget.clear();
        m_path->setCurrentIndex(QModelIndex());
        m_missingFolder = settings->PassedOverDirectory();
    }
    // After an error the options read before it stand and the rest keep their
    // defaults; the pages show so they can be set right. The close asks before
    // it replaces the file, which may hold more than was read.
    m_optionPages->show();
    if (error) {
        m_loadFailed = true;
        ShowError(*error + "\n\nSettings file: " + m_appManager->SettingsFile());
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose(event);
}

void TForm1::FormClose(QCloseEvent* event) {
    if (m_running) {
        // The run owns the list and the options until it ends; it closes the
        // window then.
        m_closeDeferred = true;
        event->ignore();
        return;
    }
    // Before the first tick nothing was loaded, so nothing is saved: the
    // settings file stays as it is.
    if (m_appManager && m_loadFailed &&
        m_prompter->ShowMessage(
            ToNarrow(ApplicationTitle()),
            "The settings file \"" + m_appManager->SettingsFile() +
                "\" could not be read when Parevo started.\nReplace it with the options as "
                "they are now?",
            DialogButtons::YesNo, DialogIcon::Question) != DialogResult::Yes) {
        m_appManager.reset();
    }
    if (m_appManager) {
        try {
            m_appManager->SavePreferences();
        } catch (const std::exception& e) {
            event->ignore();
            ShowError(e.what());
            return;
        }
        m_appManager.reset();
    }
    m_timer->stop();
    event->accept();
}

void TForm1::LinkClick() {
    QDesktopServices::openUrl(QUrl(WebsiteUrl()));
}

// ---- ROM list and log ----------------------------------------------------------

void TForm1::FormDropFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        TPathObj pathObj;
        pathObj.FullPath = ToNarrow(QDir::toNativeSeparators(QDir::cleanPath(path)));
        m_changingMarks = true;
        m_dropGames->addItem(new TRomEntry(std::move(pathObj)));
        m_changingMarks = false;
    }
}

const TPathObj& TForm1::PathObj(int index) const {
    return static_cast<const TRomEntry*>(m_dropGames->item(index))->PathObj();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_running && !LocalPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    if (!m_running && !LocalPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TForm1::dropEvent(QDropEvent* event) {
    // A run works through the entries it counted at its start; drops wait.
    const QStringList paths = LocalPaths(event->mimeData());
    if (m_running || paths.isEmpty()) {
        event->ignore();
        return;
    }
    FormDropFiles(paths);
    event->acceptProposedAction();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_dropGames && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete) {
            if (m_running) {
                QApplication::beep();
            } else {
                DropGamesKeyDown(key);
            }
            return true;
        }
    }
    if (watched == m_link && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        LinkClick();
        return true;
    }
    if (watched == m_link && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            LinkClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::DropGamesKeyDown(QKeyEvent*) {
    const QList<QListWidgetItem*> selected = m_dropGames->selectedItems();
    const int noted = selected.isEmpty() ? -1 : m_dropGames->row(selected.first());
    if (noted < 0) {
        return;
    }
    delete m_dropGames->takeItem(noted);
    m_dropGames->clearSelection();
    if (noted > 0) {
        m_dropGames->setCurrentRow(noted - 1);
    } else if (m_dropGames->count() > 0) {
        m_dropGames->setCurrentRow(0);
    }
}

void TForm1::DropGamesClickCheck() {
    SetMarks(0);
}

void TForm1::SetMarks(int upTo) {
    m_changingMarks = true;
    for (int i = 0; i < m_dropGames->count(); ++i) {
        m_dropGames->item(i)->setCheckState(i < upTo ? Qt::Checked : Qt::Unchecked);
    }
    m_changingMarks = false;
}

void TForm1::ClearlistMenuItemClick() {
    if (m_running) {
        return;
    }
    m_dropGames->clear();
}

void TForm1::AddLog(const std::string& line) {
    m_log->addItem(FromNarrow(line));
    m_log->setCurrentRow(m_log->count() - 1);
    m_log->scrollToBottom();
    Breathe();
}

// ---- Status line and output folder ----------------------------------------------

void TForm1::SetProgressText(const std::string& text) {
    const QString shown = FromNarrow(text);
    // A count that runs on (the search reports every 100 steps, which can be
    // tens of thousands of times a second) is shown at most once a frame:
    // laying out and painting each one would make the search many times
    // slower. Any other text shows at once.
    if (OnlyNumbersDiffer(shown, m_progressText->text()) && m_statusPainted.isValid() &&
        m_statusPainted.elapsed() < kStatusFrame) {
        m_pendingStatus = shown;
    } else {
        ShowProgressText(shown);
    }
    Breathe();
}

void TForm1::ShowProgressText(const QString& text) {
    m_pendingStatus.reset();
    m_statusPainted.restart();
    if (text == m_progressText->text()) {
        return;
    }
    const QRect before = m_progressText->geometry();
    m_progressText->setText(text);
    PlaceProgressText();
    // The core holds the thread: paint now, not when the run is over. A shorter
    // text uncovers part of the panel, which must lose the old text too.
    const QRect after = m_progressText->geometry();
    m_panel->repaint(after.contains(before) ? after : before.united(after));
}

void TForm1::PlaceProgressText() {
    const int width = m_progressText->sizeHint().width();
    const int left = std::max(kProgressTextMinLeft, kProgressTextRight - width);
    m_progressText->setGeometry(left, kProgressTextTop, kProgressTextRight - left,
                                kProgressTextHeight);
}

void TForm1::UpdatePathText() {
    const QString text = CustomPath()
                             ? QStringLiteral("Save Path: ") + FromNarrow(PathFolder())
                             : QStringLiteral("Currently using rom location for output path.");
    if (m_pathText->text() != text) {
        m_pathText->setText(text);
        m_pathText->adjustSize();
    }
}

void TForm1::CustomPathClick() {
    m_path->setEnabled(m_customPath->isChecked() && !m_running);
}

std::string TForm1::PathFolder() const {
    if (!m_missingFolder.empty()) {
        return m_missingFolder;
    }
    const QModelIndex current = m_path->currentIndex();
    if (!current.isValid()) {
        return std::string();
    }
    return ToNarrow(QDir::toNativeSeparators(m_folders->filePath(current)));
}

void TForm1::SelectFolder(const std::string& path) {
    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(FromNarrow(path)));
    const QModelIndex index = m_folders->index(folder);
    if (!index.isValid()) {
        return;
    }
    for (QModelIndex ancestor = index.parent(); ancestor.isValid(); ancestor = ancestor.parent()) {
        m_path->expand(ancestor);
    }
    m_scrollTarget = m_folders->filePath(index);
    m_path->setCurrentIndex(index);
    m_path->scrollTo(index);
}

// ---- The run -------------------------------------------------------------------

void TForm1::TrimGamesClick() {
    if (m_running) {
        return;
    }
    SetRunning(true);
    m_breath.invalidate();  // the first report of a run lets the window paint
    SetMarks(0);
    const int count = m_dropGames->count();
    m_progress->SetMaxValue(count);
    m_progress->SetProgress(0);
    m_progress->repaint();

    std::vector<std::string> entries;
    entries.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        entries.push_back(PathObj(i).FullPath);
    }
    BatchCallbacks callbacks;
    callbacks.entryDone = [this](int index) {
        m_changingMarks = true;
        m_dropGames->item(index)->setCheckState(Qt::Checked);
        m_changingMarks = false;
        m_dropGames->viewport()->repaint();
        m_progress->SetProgress(index + 1);
        m_progress->repaint();
    };
    std::optional<std::string> error;
    try {
        RunBatch(entries, m_env, callbacks);
        if (DeleteSource()) {
            m_dropGames->clear();
        }
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "The run stopped on an unknown error.";
    }
    if (m_pendingStatus) {
        ShowProgressText(*m_pendingStatus);
    }
    SetRunning(false);
    if (error) {
        ShowError(*error);
    }
    if (m_closeDeferred) {
        m_closeDeferred = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TForm1::SetRunning(bool running) {
    m_running = running;
    // Nothing the run reads may change under it: the entries (their marks
    // included), the options, and the button that would start a second run.
    const QWidget* focused = QApplication::focusWidget();
    m_trimGames->setEnabled(!running && m_dropGames->count() > 0);
    m_clearlistMenuItem->setEnabled(!running);
    m_customPath->setEnabled(!running);
    m_deleteSource->setEnabled(!running);
    m_optionsPage->setEnabled(!running);
    CustomPathClick();
    m_changingMarks = true;
    for (int i = 0; i < m_dropGames->count(); ++i) {
        QListWidgetItem* item = m_dropGames->item(i);
        item->setFlags(running ? item->flags() & ~Qt::ItemIsUserCheckable
                               : item->flags() | Qt::ItemIsUserCheckable);
    }
    m_changingMarks = false;
    if (!running && focused == m_trimGames && m_trimGames->isEnabled()) {
        m_trimGames->setFocus();
    }
}

void TForm1::ShowError(const std::string& text) {
    m_prompter->ShowMessage(ToNarrow(ApplicationTitle()), text, DialogButtons::Ok,
                            DialogIcon::Error);
}

void TForm1::Breathe() {
    if (!m_running) {
        return;
    }
    if (!m_breath.isValid() || m_breath.elapsed() >= kBreathInterval) {
        if (m_pendingStatus) {
            ShowProgressText(*m_pendingStatus);
        }
        QCoreApplication::processEvents();
        m_breath.restart();
    }
}

// ---- Options -------------------------------------------------------------------

bool TForm1::CustomPath() const {
    return m_customPath->isChecked();
}
void TForm1::SetCustomPath(bool checked) {
    m_customPath->setChecked(checked);  // a change runs CustomPathClick
}
bool TForm1::SafeTrim() const {
    return m_safeTrim->isChecked();
}
void TForm1::SetSafeTrim(bool checked) {
    m_safeTrim->setChecked(checked);
}
bool TForm1::TrimSceneNumber() const {
    return m_trimSceneNumber->isChecked();
}
void TForm1::SetTrimSceneNumber(bool checked) {
    m_trimSceneNumber->setChecked(checked);
}
bool TForm1::HeaderRomName() const {
    return m_headerRomName->isChecked();
}
void TForm1::SetHeaderRomName(bool checked) {
    m_headerRomName->setChecked(checked);
}
bool TForm1::DeleteSource() const {
    return m_deleteSource->isChecked();
}
void TForm1::SetDeleteSource(bool checked) {
    m_deleteSource->setChecked(checked);
}
int TForm1::ByteJump() const {
    return m_byteJump->TypedValue();
}
void TForm1::SetByteJump(int value) {
    m_byteJump->SetNumber(value);
}
std::string TForm1::AppendText() const {
    return ToNarrow(m_appendText->text());
}
void TForm1::SetAppendText(const std::string& text) {
    m_appendText->setText(FromNarrow(text));
}
void TForm1::SetHintPause(int milliseconds) {
    ApplicationHintTiming().SetHintPause(milliseconds);
}
void TForm1::SetHintShortPause(int milliseconds) {
    ApplicationHintTiming().SetHintShortPause(milliseconds);
}
int TForm1::HintShortPause() const {
    return ApplicationHintTiming().HintShortPause();
}

}  // namespace parevo
