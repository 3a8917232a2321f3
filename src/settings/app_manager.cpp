#include "settings/app_manager.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/file_io.h"
#include "platform/program_location.h"
#include "platform/text_encoding.h"

#ifndef _WIN32
#include <unistd.h>
#else
#include <windows.h>
#endif

namespace parevo {

namespace {

std::string Env(const char* name) {
#ifdef _WIN32
    // The wide environment: a user name outside the ANSI code page is in APPDATA.
    const wchar_t* value = _wgetenv(NarrowToWide(name).c_str());
    return value != nullptr ? WideToNarrow(value) : "";
#else
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
#endif
}

bool Writable(const std::string& folder) {
#ifndef _WIN32
    return ::access(folder.c_str(), W_OK) == 0;
#else
    // Try it: the attribute bits say little about the folder's access rights. A
    // new hidden file of a name no one uses, which goes when it is closed; a
    // user's file is never opened.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring probe = NarrowToWide(folder) + L"\\.parevo-probe-" +
                                   std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(attempt) + L".tmp";
        HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return false;
#endif
}

}  // namespace

ConfigEnvironment CurrentConfigEnvironment() {
    return ConfigEnvironment{Env("XDG_CONFIG_HOME"), Env("HOME"), Env("APPDATA")};
}

std::string UserConfigFolder(const ConfigEnvironment& env) {
#if defined(_WIN32)
    return env.appData.empty() ? std::string() : env.appData + "\\Parevo\\";
#elif defined(__APPLE__)
    return env.home.empty() ? std::string() : env.home + "/Library/Application Support/Parevo/";
#else
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    if (!env.xdgConfigHome.empty() && env.xdgConfigHome[0] == '/') {
        return env.xdgConfigHome + "/parevo/";
    }
    return env.home.empty() ? std::string() : env.home + "/.config/parevo/";
#endif
}

std::string ChooseDataPath(const std::string& exeFolder, const ConfigEnvironment& env) {
    const char sep = PathSeparator(NativePathStyle());
    const std::string portable = exeFolder + "data" + sep;
    // The settings file is replaced through a file beside it, so the folder must
    // take new files; a settings file shipped in a folder the user cannot write
    // would otherwise fail every save. An installed program is shared by every
    // user of the machine (and root could write its folder): it never keeps
    // settings beside itself.
    if (!IsInstalledTree(exeFolder) &&
        (FolderExists(portable) ? Writable(portable)
                                : Writable(exeFolder.empty() ? "." : exeFolder))) {
        return portable;
    }
    const std::string config = UserConfigFolder(env);
    return config.empty() ? portable : config;
}

AppManager::AppManager(const std::string& executablePath, OptionControls& controls,
                       ConfigEnvironment env)
    : m_exeFolder(FolderPart(executablePath)), m_controls(controls), m_env(std::move(env)) {}

void AppManager::Init() {
    m_dataPath = ChooseDataPath(m_exeFolder, m_env);
    m_settingsFile = m_dataPath + "settings.xml";
    m_controls.SetHintPause(500);
    m_controls.SetHintShortPause(1);
    m_settings = std::make_unique<Settings>(m_controls);
    LoadPreferences();
}

void AppManager::EnsureDataFolder() const {
    // A failure shows later, as a missing file on reading or a write error on
    // saving. Beside the executable only the last level is made; the user's
    // configuration folder may lack its parents on a fresh account.
    std::error_code ec;
    const std::filesystem::path folder = PathOf(m_dataPath);
    if (FolderExists(m_dataPath)) {
        return;
    }
    if (m_dataPath == m_exeFolder + "data" + PathSeparator(NativePathStyle())) {
        std::filesystem::create_directory(folder, ec);
    } else {
        std::filesystem::create_directories(folder, ec);
    }
}

void AppManager::LoadPreferences() {
    EnsureDataFolder();
    if (m_settings) {
        m_settings->LoadFromFile(m_settingsFile);
    }
}

void AppManager::SavePreferences() {
    EnsureDataFolder();
    if (!m_settings) {
        return;
    }
    m_settings->SaveToFile(m_settingsFile);
    m_settings.reset();
}

}  // namespace parevo
