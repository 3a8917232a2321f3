// Windows: a new file is a hidden ".parevo-<random>.tmp" marked to be deleted
// when it is closed, so that whatever ends the program, the system takes it
// away. Committing clears the mark and renames the file through its own handle.
#ifdef _WIN32

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "platform/pending_file.h"

namespace parevo {

namespace {

std::wstring RandomHiddenName() {
    static std::random_device random;
    wchar_t name[40];
    swprintf(name, 40, L".parevo-%08x%08x.tmp", random(), random());
    return name;
}

bool MarkForDeletion(HANDLE h, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) !=
           FALSE;
}

// Renames the open file `h` to `target`, replacing what is there.
bool RenameByHandle(HANDLE h, const std::wstring& target) {
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.data(), target.size() * sizeof(wchar_t));
    return SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) !=
           FALSE;
}

}  // namespace

bool PendingFile::Create(const std::wstring& folder) {
    Discard();
    const std::wstring base = folder.empty() ? L"." : folder;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring path = base + L"\\" + RandomHiddenName();
        // No sharing: nobody else opens, renames or deletes it while it is written.
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return false;
        }
        if (!MarkForDeletion(h, true)) {
            const DWORD error = GetLastError();
            CloseHandle(h);
            DeleteFileW(path.c_str());
            SetLastError(error);
            return false;
        }
        m_handle = h;
        m_path = path;
        return true;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

bool PendingFile::Commit(const std::wstring& target) {
    if (m_handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    HANDLE h = static_cast<HANDLE>(m_handle);
    std::error_code ec;
    const std::wstring full =
        std::filesystem::absolute(std::filesystem::path(target), ec).wstring();
    if (ec || !MarkForDeletion(h, false)) {
        const DWORD error = ec ? ERROR_INVALID_NAME : GetLastError();
        Discard();
        SetLastError(error);
        return false;
    }
    // The file keeps its hidden mark until it has its name: a plain file then.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
    if (RenameByHandle(h, full)) {
        CloseHandle(h);
        m_handle = nullptr;
        m_path.clear();
        return true;
    }
    // Where a rename through the handle is refused, by name once it is closed.
    CloseHandle(h);
    m_handle = nullptr;
    if (MoveFileExW(m_path.c_str(), full.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        m_path.clear();
        return true;
    }
    const DWORD error = GetLastError();
    DeleteFileW(m_path.c_str());
    m_path.clear();
    SetLastError(error);
    return false;
}

void PendingFile::Discard() {
    if (m_handle != nullptr) {
        // Closing deletes it: it is still marked.
        CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
    m_path.clear();
}

void RemoveLeftovers(const std::wstring& folder) {
    const std::wstring base = folder.empty() ? L"." : folder;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((base + L"\\.parevo-*.tmp").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    std::vector<std::wstring> names;
    do {
        names.emplace_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const std::wstring& name : names) {
        const std::wstring path = base + L"\\" + name;
        // Opening it alone, to delete it, fails while another program holds it.
        HANDLE h = CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            continue;
        }
        FILE_ATTRIBUTE_TAG_INFO tag{};
        const bool folderEntry =
            GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
            (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (!folderEntry) {
            MarkForDeletion(h, true);
            CloseHandle(h);
            continue;
        }
        CloseHandle(h);
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::path(path), ec);
    }
}

}  // namespace parevo

#endif  // _WIN32
