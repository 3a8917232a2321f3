#pragma once
// AppManager: where the settings file lives, the hint delays, and loading the
// settings at start and saving them at close.

#include <memory>
#include <string>

#include "platform/paths.h"
#include "settings/option_controls.h"
#include "settings/settings.h"

namespace parevo {

// What decides the user's configuration folder.
struct ConfigEnvironment {
    std::string xdgConfigHome;  // Linux
    std::string home;           // Linux, macOS
    std::string appData;        // Windows
};

// The running process's environment.
ConfigEnvironment CurrentConfigEnvironment();

// The user's configuration folder for Parevo, ending in a separator; empty when
// the environment names none. Linux: $XDG_CONFIG_HOME/parevo/, else
// ~/.config/parevo/; macOS: ~/Library/Application Support/Parevo/; Windows:
// %APPDATA%\Parevo\.
std::string UserConfigFolder(const ConfigEnvironment& env);

// The data folder, ending in a separator: "data" beside the executable when that
// folder can take new files (a build folder, an unpacked portable copy) and the
// program does not run from an installed tree; otherwise the user's
// configuration folder. `exeFolder` ends in a separator.
std::string ChooseDataPath(const std::string& exeFolder, const ConfigEnvironment& env);

class AppManager {
  public:
    // `executablePath` is the running executable's full path; its folder is the
    // text up to and including the last separator.
    AppManager(const std::string& executablePath, OptionControls& controls,
               ConfigEnvironment env = CurrentConfigEnvironment());

    // Sets DataPath and SettingsFile, the hint delays (500 ms and 1 ms), creates
    // the settings object and loads the file (errors of the load propagate).
    void Init();
    // Creates the data folder if missing, then loads the settings file.
    void LoadPreferences();
    // Creates the data folder if missing, writes the settings file and frees the
    // settings object. On a failed write the error propagates and the settings
    // object is kept.
    void SavePreferences();

    const std::string& DataPath() const { return m_dataPath; }
    const std::string& SettingsFile() const { return m_settingsFile; }
    Settings* AppSettings() const { return m_settings.get(); }

  private:
    void EnsureDataFolder() const;

    std::string m_exeFolder;
    OptionControls& m_controls;
    ConfigEnvironment m_env;
    std::string m_dataPath;
    std::string m_settingsFile;
    std::unique_ptr<Settings> m_settings;
};

}  // namespace parevo
