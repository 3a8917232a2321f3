#pragma once
// The main window: the ROM list and the log, the status line, the option pages
// with the output folder tree, the gauge, "Trim Games" and the website link. It
// turns what the user does into core calls and what the core reports into
// pixels; the trimming, naming, settings and archive rules live in the core.

#include <QElapsedTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "app/rom_info_dialog.h"
#include "archive/rar_component.h"
#include "archive/zip_component.h"
#include "dat/dat.h"
#include "platform/program_location.h"
#include "settings/app_manager.h"
#include "settings/option_controls.h"
#include "trim/trim_rom.h"

class QAction;
class QCheckBox;
class QFileSystemModel;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;
class QTreeView;

namespace parevo {

class ByteJumpBox;
class Gauge;

// What the window plugs into the core. The defaults are the real ones; tests
// replace them so that no real settings, recycle bin or dialog is touched.
struct WindowServices {
    // The running executable; the settings live beside it (or in the user's
    // configuration folder, as AppManager decides).
    std::string executablePath = RunningExecutablePath();
    ConfigEnvironment config = CurrentConfigEnvironment();
    Prompter* prompter = nullptr;  // none: real message and input boxes
    Recycler* recycler = nullptr;  // none: the desktop's trash
};

// The files and folders named on the command line, as full paths in the order
// given (a drop delivers full paths; a relative name is taken from `folder`).
QStringList CommandLinePaths(const QStringList& arguments, const QString& folder);

class MainWindow : public QWidget, public OptionControls {
    Q_OBJECT
  public:
    explicit MainWindow(WindowServices services = {});
    ~MainWindow() override;

    // Caption of the window, and of every message box the program shows.
    static QString Caption();
    static QString ApplicationTitle();
    // The address the link opens.
    static QString WebsiteUrl();

    // Appends one line to the log and selects it, so the newest line shows.
    void AddLog(const std::string& line);
    // Adds one ROM list entry per path, in order, as a drop does.
    void AddFiles(const QStringList& paths);
    // The full path entry `index` of the ROM list stands for.
    const std::string& EntryPath(int index) const;

    // The status line: replaces its text and repaints it at once.
    void SetProgressText(const std::string& text);

    // Handlers.
    void OnTimer();
    void TrimGames();
    void ClearList();
    void OpenWebsite();
    // Opens the "ROM information…" dialog for the selected entry.
    void ShowRomInfo();

    bool Running() const { return m_running; }
    // None before the first tick has loaded the preferences, and after the close.
    AppManager* LoadedAppManager() const { return m_appManager.get(); }
    ZipComponent& Zip() { return *m_zip; }
    RarComponent& Rar() { return *m_rar; }

    // OptionControls, over the widgets.
    bool CustomPath() const override;
    void SetCustomPath(bool checked) override;
    bool SafeTrim() const override;
    void SetSafeTrim(bool checked) override;
    bool TrimSceneNumber() const override;
    void SetTrimSceneNumber(bool checked) override;
    bool HeaderRomName() const override;
    void SetHeaderRomName(bool checked) override;
    bool DeleteSource() const override;
    void SetDeleteSource(bool checked) override;
    int ByteJump() const override;
    void SetByteJump(int value) override;
    std::string AppendText() const override;
    void SetAppendText(const std::string& text) override;
    std::string PathFolder() const override;
    void SelectFolder(const std::string& path) override;
    std::string DatFile() const override;
    void SetDatFile(const std::string& path) override;
    void UpdateFolderTreeEnabled() override;
    void SetHintPause(int milliseconds) override;
    void SetHintShortPause(int milliseconds) override;
    // The delay between hints as the preferences set it (Qt itself uses 20 ms).
    int HintShortPause() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls();
    void CreateOptionPages();
    void SetKeyboardOrder();
    void SetStartState();
    void CreateTrimEnvironment();
    void LoadPreferences();
    void HandleClose(QCloseEvent* event);
    void RemoveSelectedEntry(QKeyEvent* event);
    void ClearMarks();
    void SetMarks(int upTo);
    void SetRunning(bool running);
    void UpdatePathText();
    void ShowProgressText(const QString& text);
    void PlaceProgressText();
    void ShowError(const std::string& text);
    void KeepAlive();
    void ChooseDatFile();
    std::vector<RomInfoPart> ReadRomInfoParts(const std::string& path);

    WindowServices m_services;
    std::unique_ptr<Prompter> m_ownPrompter;
    Prompter* m_prompter;
    std::unique_ptr<Recycler> m_ownRecycler;
    Recycler* m_recycler;
    SteadyTickCounter m_tick;
    std::unique_ptr<ZipComponent> m_zip;
    std::unique_ptr<RarComponent> m_rar;
    TrimEnvironment m_env;
    std::unique_ptr<AppManager> m_appManager;

    bool m_firstTick = true;
    bool m_running = false;
    bool m_closeDeferred = false;
    bool m_changingMarks = false;  // the program, not the user, sets check marks
    QElapsedTimer m_lastKeepAlive;
    QElapsedTimer m_statusPainted;           // when the status line last changed
    std::optional<QString> m_pendingStatus;  // a count not shown yet
    QString m_scrollTarget;                  // folder to keep in view while the tree loads
    // The output folder the settings named that is not there (an unplugged
    // stick): it stays the chosen folder, so a run says it is missing instead of
    // writing elsewhere and the close saves it back, until the user picks another.
    std::string m_missingFolder;
    bool m_loadFailed = false;  // the settings file could not be read at start
    DatCache m_datCache;        // the chosen DAT, as runs and the dialog read it

    QFrame* m_panel = nullptr;
    QListWidget* m_dropGames = nullptr;
    QLabel* m_progressText = nullptr;
    QListWidget* m_log = nullptr;
    QTabWidget* m_optionPages = nullptr;
    QWidget* m_pathPage = nullptr;
    QCheckBox* m_customPath = nullptr;
    QTreeView* m_path = nullptr;
    QFileSystemModel* m_folders = nullptr;
    QLabel* m_pathText = nullptr;
    Gauge* m_progress = nullptr;
    QPushButton* m_trimGames = nullptr;
    QCheckBox* m_deleteSource = nullptr;
    QWidget* m_optionsPage = nullptr;
    QCheckBox* m_safeTrim = nullptr;
    ByteJumpBox* m_byteJump = nullptr;
    QLineEdit* m_appendText = nullptr;
    QCheckBox* m_trimSceneNumber = nullptr;
    QCheckBox* m_headerRomName = nullptr;
    QLineEdit* m_datFile = nullptr;
    QPushButton* m_datFileButton = nullptr;
    QLabel* m_link = nullptr;
    QTimer* m_timer = nullptr;
    QMenu* m_romsMenu = nullptr;
    QAction* m_clearlistMenuItem = nullptr;
    QAction* m_romInfoMenuItem = nullptr;
};

}  // namespace parevo
