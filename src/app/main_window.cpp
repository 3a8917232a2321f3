#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <algorithm>

#include "app/hint_timing.h"
#include "app/progress_dialog.h"
#include "app/qt_prompter.h"
#include "app/widgets.h"
#include "dat/verify.h"
#include "platform/file_io.h"
#include "platform/qt/qt_recycler.h"
#include "platform/temp_folder.h"
#include "trim/archive_images.h"
#include "trim/archive_step.h"
#include "trim/dat_check.h"
#include "trim/rom_info.h"

#ifndef PAREVO_WEBSITE_URL
#define PAREVO_WEBSITE_URL "file:///usr/local/share/doc/parevo/README.md"
#endif

namespace parevo {

namespace {

constexpr int kTimerInterval = 100;
// While the core works, the window handles pending events at least this often
// (when the core reports), so it keeps painting and answers the desktop's
// "are you alive" checks without a second thread.
constexpr qint64 kKeepAliveInterval = 50;
// Shortest time between two paints of a running count in the status line.
constexpr qint64 kStatusFrame = 16;

// A ROM list entry: shows the file name, carries the full path.
class RomListItem final : public QListWidgetItem {
  public:
    explicit RomListItem(std::string path) : m_path(std::move(path)) {
        const QString fullPath = FromNarrow(m_path);
        QString name = FromNarrow(FileNamePart(m_path));
        setText(name.isEmpty() ? fullPath : name);
        // Screen readers can tell two entries of the same name apart.
        setData(Qt::AccessibleDescriptionRole, fullPath);
        setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        setCheckState(Qt::Unchecked);
    }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
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

QString MainWindow::Caption() {
    return QStringLiteral("Parevo v1.3 | NDS Rom Trimmer - 9.10.07");
}

QString MainWindow::ApplicationTitle() {
    return QStringLiteral("Parevo");
}

QString MainWindow::WebsiteUrl() {
    return QString::fromUtf8(PAREVO_WEBSITE_URL);
}

MainWindow::MainWindow(WindowServices services) : m_services(std::move(services)) {
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
    m_zip = std::make_unique<ZipComponent>(*m_prompter);
    m_rar = std::make_unique<RarComponent>();

    CreateControls();
    SetKeyboardOrder();
    CreateTrimEnvironment();
    SetStartState();

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer"));
    m_timer->setInterval(kTimerInterval);
    connect(m_timer, &QTimer::timeout, this, &MainWindow::OnTimer);
    m_timer->start();
}

MainWindow::~MainWindow() {
    // The controls and the folder model go while the components and the run's
    // environment that their handlers reach still exist.
    m_timer->stop();
    const QObjectList children = this->children();
    for (QObject* child : children) {
        delete child;
    }
}

void MainWindow::SetStartState() {
    // Drops are taken by the window itself (setAcceptDrops above); none of its
    // controls takes them, so a drop anywhere reaches AddFiles.
    UpdateFolderTreeEnabled();
    SelectFolder(ToNarrow(QDir::toNativeSeparators(StartFolder())));
}

void MainWindow::CreateTrimEnvironment() {
    ConfigureArchiveComponents(*m_zip, *m_rar,
                               [this](const std::string& text) { SetProgressText(text); });
    m_zip->Caption = ToNarrow(ApplicationTitle());
    m_zip->ProcessMessages = [] { QCoreApplication::processEvents(); };
    m_zip->CreateProgressDialog = QtProgressDialogFactory(ApplicationTitle(), this);
    m_rar->SetPrompter(m_prompter);

    m_env.AddLog = [this](const std::string& line) { AddLog(line); };
    m_env.SetStatus = [this](const std::string& text) { SetProgressText(text); };
    m_env.keepAlive = [this] { KeepAlive(); };
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

void MainWindow::OnTimer() {
    m_trimGames->setEnabled(m_dropGames->count() > 0 && !m_running);
    UpdatePathText();
    if (m_firstTick) {
        // Turned off before the load: a failed load is reported once, and the
        // message box's own event loop must not start it again on the next tick.
        m_firstTick = false;
        LoadPreferences();
    }
}

void MainWindow::LoadPreferences() {
    m_appManager =
        std::make_unique<AppManager>(m_services.executablePath, *this, m_services.config);
    std::optional<std::string> error;
    try {
        m_appManager->Init();
    } catch (const std::exception& e) {
        error = e.what();
    }
    // The tree cannot show a folder that is not there; it stays the chosen one,
    // with nothing selected in the tree, rather than quietly becoming the Desktop.
    if (const Settings* settings = m_appManager->AppSettings();
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

void MainWindow::closeEvent(QCloseEvent* event) {
    HandleClose(event);
}

void MainWindow::HandleClose(QCloseEvent* event) {
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

void MainWindow::OpenWebsite() {
    QDesktopServices::openUrl(QUrl(WebsiteUrl()));
}

// ---- ROM list and log ----------------------------------------------------------

void MainWindow::AddFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        m_changingMarks = true;
        m_dropGames->addItem(
            new RomListItem(ToNarrow(QDir::toNativeSeparators(QDir::cleanPath(path)))));
        m_changingMarks = false;
    }
}

const std::string& MainWindow::EntryPath(int index) const {
    return static_cast<const RomListItem*>(m_dropGames->item(index))->Path();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_running && !LocalPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!m_running && !LocalPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    // A run works through the entries it counted at its start; drops wait.
    const QStringList paths = LocalPaths(event->mimeData());
    if (m_running || paths.isEmpty()) {
        event->ignore();
        return;
    }
    AddFiles(paths);
    event->acceptProposedAction();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_dropGames && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete) {
            if (m_running) {
                QApplication::beep();
            } else {
                RemoveSelectedEntry(key);
            }
            return true;
        }
    }
    if (watched == m_link && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        OpenWebsite();
        return true;
    }
    if (watched == m_link && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            OpenWebsite();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::RemoveSelectedEntry(QKeyEvent*) {
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

void MainWindow::ClearMarks() {
    SetMarks(0);
}

void MainWindow::SetMarks(int upTo) {
    m_changingMarks = true;
    for (int i = 0; i < m_dropGames->count(); ++i) {
        m_dropGames->item(i)->setCheckState(i < upTo ? Qt::Checked : Qt::Unchecked);
    }
    m_changingMarks = false;
}

void MainWindow::ClearList() {
    if (m_running) {
        return;
    }
    m_dropGames->clear();
}

void MainWindow::AddLog(const std::string& line) {
    m_log->addItem(FromNarrow(line));
    m_log->setCurrentRow(m_log->count() - 1);
    m_log->scrollToBottom();
    KeepAlive();
}

// ---- Status line and output folder ----------------------------------------------

void MainWindow::SetProgressText(const std::string& text) {
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
    KeepAlive();
}

void MainWindow::ShowProgressText(const QString& text) {
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

void MainWindow::UpdatePathText() {
    const QString text = CustomPath()
                             ? QStringLiteral("Save Path: ") + FromNarrow(PathFolder())
                             : QStringLiteral("Currently using rom location for output path.");
    if (m_pathText->text() != text) {
        m_pathText->setText(text);
        m_pathText->adjustSize();
    }
}

void MainWindow::UpdateFolderTreeEnabled() {
    m_path->setEnabled(m_customPath->isChecked() && !m_running);
}

std::string MainWindow::PathFolder() const {
    if (!m_missingFolder.empty()) {
        return m_missingFolder;
    }
    const QModelIndex current = m_path->currentIndex();
    if (!current.isValid()) {
        return std::string();
    }
    return ToNarrow(QDir::toNativeSeparators(m_folders->filePath(current)));
}

void MainWindow::SelectFolder(const std::string& path) {
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

void MainWindow::TrimGames() {
    if (m_running) {
        return;
    }
    // With a DAT chosen, every ROM of the run is checked against it; one that
    // cannot be read stops the run before it starts.
    std::optional<DatCheck> check;
    if (const std::string dat = DatFile(); !dat.empty()) {
        try {
            check.emplace(m_datCache.Get(dat));
        } catch (const std::exception& e) {
            ShowError(e.what());
            return;
        }
    }
    m_env.check = check ? &*check : nullptr;
    SetRunning(true);
    m_lastKeepAlive.invalidate();  // the first report of a run lets the window paint
    SetMarks(0);
    const int count = m_dropGames->count();
    m_progress->SetMaxValue(count);
    m_progress->SetProgress(0);
    m_progress->repaint();

    std::vector<std::string> entries;
    entries.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        entries.push_back(EntryPath(i));
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
    m_env.check = nullptr;
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

void MainWindow::SetRunning(bool running) {
    m_running = running;
    // Nothing the run reads may change under it: the entries (their marks
    // included), the options, and the button that would start a second run.
    const QWidget* focused = QApplication::focusWidget();
    m_trimGames->setEnabled(!running && m_dropGames->count() > 0);
    m_clearlistMenuItem->setEnabled(!running);
    m_romInfoMenuItem->setEnabled(!running);
    m_customPath->setEnabled(!running);
    m_deleteSource->setEnabled(!running);
    m_optionsPage->setEnabled(!running);
    UpdateFolderTreeEnabled();
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

void MainWindow::ShowError(const std::string& text) {
    m_prompter->ShowMessage(ToNarrow(ApplicationTitle()), text, DialogButtons::Ok,
                            DialogIcon::Error);
}

void MainWindow::KeepAlive() {
    if (!m_running) {
        return;
    }
    if (!m_lastKeepAlive.isValid() || m_lastKeepAlive.elapsed() >= kKeepAliveInterval) {
        if (m_pendingStatus) {
            ShowProgressText(*m_pendingStatus);
        }
        QCoreApplication::processEvents();
        m_lastKeepAlive.restart();
    }
}

// ---- ROM information and the DAT -----------------------------------------------

void MainWindow::ShowRomInfo() {
    const QList<QListWidgetItem*> selected = m_dropGames->selectedItems();
    if (m_running || selected.isEmpty()) {
        return;
    }
    const std::string path = static_cast<const RomListItem*>(selected.first())->Path();
    // Reading a large image or an archive takes a while, and the window breathes
    // meanwhile: as during a run, nothing may start a run or change the options.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetRunning(true);
    m_lastKeepAlive.invalidate();
    const std::vector<RomInfoPart> parts = ReadRomInfoParts(path);
    SetRunning(false);
    QApplication::restoreOverrideCursor();
    if (m_closeDeferred) {
        m_closeDeferred = false;
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    auto* dialog = new RomInfoDialog(FromNarrow(FileNamePart(path)), parts, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

std::vector<RomInfoPart> MainWindow::ReadRomInfoParts(const std::string& path) {
    const TrimOptions options = ToTrimOptions(*this);
    const Dat* dat = nullptr;
    std::string datError;
    if (const std::string datPath = DatFile(); !datPath.empty()) {
        try {
            dat = &m_datCache.Get(datPath);
        } catch (const std::exception& e) {
            datError = e.what();
        }
    }
    std::vector<RomInfoPart> parts;
    const std::string name = FileNamePart(path);
    const auto add = [&](const std::string& heading, const std::string& file) {
        RomInfoPart part{heading, {}, {}};
        try {
            const InputFile image(file);
            part.fields = InfoFields(ReadRomInfo(image, options));
            if (dat != nullptr) {
                const Verdict verdict = VerifyImage(*dat, image, [this] { KeepAlive(); });
                for (const std::string& line : VerdictLines(verdict)) {
                    part.fields.emplace_back("dat", line);
                }
            } else if (!datError.empty()) {
                part.fields.emplace_back("dat", datError);
            }
        } catch (const std::exception& e) {
            part.error = e.what();
        }
        parts.push_back(std::move(part));
    };
    if (!IsArchivePath(path)) {
        add(name, path);
        return parts;
    }
    // The members are read from a private folder that goes with them.
    try {
        const InputFile archive(path);
        const TempFolder folder(FolderPart(path));
        for (const ArchiveImage& image :
             ExtractArchiveImages(path, folder.Path(), *m_zip, *m_rar)) {
            const std::string heading = name + " (" + image.member + ")";
            if (FileExists(image.path)) {
                add(heading, image.path);
            } else {
                parts.push_back({heading, {}, "It could not be extracted."});
            }
        }
        if (parts.empty()) {
            parts.push_back({name, {}, "It holds no .nds file."});
        }
    } catch (const std::exception& e) {
        parts.push_back({name, {}, e.what()});
    }
    return parts;
}

void MainWindow::ChooseDatFile() {
    const QString start = m_datFile->text().isEmpty() ? StartFolder() : m_datFile->text();
    const QString chosen = QFileDialog::getOpenFileName(
        this, QStringLiteral("Choose a DAT file"), start,
        QStringLiteral("DAT files (*.dat *.xml *.zip);;All files (*)"));
    if (!chosen.isEmpty()) {
        m_datFile->setText(QDir::toNativeSeparators(chosen));
    }
}

// ---- Options -------------------------------------------------------------------

bool MainWindow::CustomPath() const {
    return m_customPath->isChecked();
}
void MainWindow::SetCustomPath(bool checked) {
    m_customPath->setChecked(checked);  // a change runs UpdateFolderTreeEnabled
}
bool MainWindow::SafeTrim() const {
    return m_safeTrim->isChecked();
}
void MainWindow::SetSafeTrim(bool checked) {
    m_safeTrim->setChecked(checked);
}
bool MainWindow::TrimSceneNumber() const {
    return m_trimSceneNumber->isChecked();
}
void MainWindow::SetTrimSceneNumber(bool checked) {
    m_trimSceneNumber->setChecked(checked);
}
bool MainWindow::HeaderRomName() const {
    return m_headerRomName->isChecked();
}
void MainWindow::SetHeaderRomName(bool checked) {
    m_headerRomName->setChecked(checked);
}
bool MainWindow::DeleteSource() const {
    return m_deleteSource->isChecked();
}
void MainWindow::SetDeleteSource(bool checked) {
    m_deleteSource->setChecked(checked);
}
int MainWindow::ByteJump() const {
    return m_byteJump->TypedValue();
}
void MainWindow::SetByteJump(int value) {
    m_byteJump->SetNumber(value);
}
std::string MainWindow::AppendText() const {
    return ToNarrow(m_appendText->text());
}
void MainWindow::SetAppendText(const std::string& text) {
    m_appendText->setText(FromNarrow(text));
}
std::string MainWindow::DatFile() const {
    return ToNarrow(m_datFile->text().trimmed());
}
void MainWindow::SetDatFile(const std::string& path) {
    m_datFile->setText(FromNarrow(path));
}
void MainWindow::SetHintPause(int milliseconds) {
    ApplicationHintTiming().SetHintPause(milliseconds);
}
void MainWindow::SetHintShortPause(int milliseconds) {
    ApplicationHintTiming().SetHintShortPause(milliseconds);
}
int MainWindow::HintShortPause() const {
    return ApplicationHintTiming().HintShortPause();
}

}  // namespace parevo
