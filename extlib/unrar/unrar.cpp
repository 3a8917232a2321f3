// The RAR extraction library's entry points, on libarchive.
//
// libarchive reads a volume set as one stream of volumes handed over one after
// the other; each later volume is looked for by the naming rules when the
// decoder reaches it, and asked for through the callback when it is missing.
// What the decoder does not report (packed size, host system, method, DOS time)
// comes from a light walk over each volume's block headers.

#include <archive.h>
#include <archive_entry.h>
#ifndef _WIN32
#include <locale.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "extract_writer.h"
#include "platform/text_encoding.h"
#include "rar_scan.h"
#include "unrar_exports.h"

namespace unrar {

using namespace parevo;

namespace {

constexpr std::size_t kReadBuffer = 1 << 20;
constexpr std::size_t kMaxVolumes = 999;
constexpr std::size_t kNameBuffer = 2048;
constexpr std::size_t kPasswordBuffer = 512;
constexpr int kMaxVolumeQuestions = 100;

// libarchive converts names through the calling thread's character set; in a
// program that never chose a locale that is ASCII, and names outside it would be
// lost. Every entry point that reaches libarchive runs with a UTF-8 character
// set on its own thread, and puts the caller's back afterwards.
class Utf8Locale {
  public:
#ifdef _WIN32
    Utf8Locale() = default;
#else
    Utf8Locale() {
        static const locale_t utf8 = Make();
        if (utf8 != static_cast<locale_t>(0)) {
            m_previous = uselocale(utf8);
        }
    }
    ~Utf8Locale() {
        if (m_previous != static_cast<locale_t>(0)) {
            uselocale(m_previous);
        }
    }

  private:
    static locale_t Make() {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            if (locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0))) {
                return l;
            }
        }
        return static_cast<locale_t>(0);
    }
    locale_t m_previous = static_cast<locale_t>(0);
#endif
};

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

int Seek(std::FILE* f, std::int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(f, offset, whence);
#else
    return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}
std::int64_t Tell(std::FILE* f) {
#ifdef _WIN32
    return _ftelli64(f);
#else
    return ftello(f);
#endif
}

bool FileExists(const std::string& path) {
    std::unique_ptr<std::FILE, FileClose> f(std::fopen(path.c_str(), "rb"));
    return f != nullptr;
}

void CopyNarrow(char* dest, std::size_t size, const std::string& text) {
    const std::size_t n = std::min(size - 1, text.size());
    std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
}
void CopyWide(wchar_t* dest, std::size_t size, const std::wstring& text) {
    if (dest == nullptr || size == 0) {
        return;
    }
    const std::size_t n = std::min(size - 1, text.size());
    std::wmemcpy(dest, text.data(), n);
    dest[n] = L'\0';
}

std::string SlashForm(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// The name as the system writes paths: '\' on Windows, '/' elsewhere (a '\'
// that a Windows tool wrote is a separator there too, as for zip members).
std::string NativeForm(std::string name) {
#ifdef _WIN32
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
#else
    return SlashForm(std::move(name));
#endif
}

struct Entry {
    std::string utf8Name;  // '/' separators, as libarchive gives it
    std::string narrowName;
    std::wstring wideName;
    ScannedFile info;
    bool fromScan = false;
    bool symlink = false;
    bool hardlink = false;
    bool directory = false;
    std::wstring linkTarget;
    std::int64_t mtime = 0;
    long mtimeNsec = 0;
};

struct Handle {
    unsigned openMode = RAR_OM_EXTRACT;
    unsigned opFlags = 0;
    UNRARCALLBACK callback = nullptr;
    UNRAR_LPARAM userData = 0;
    CHANGEVOLPROC changeVolProc = nullptr;
    PROCESSDATAPROC processDataProc = nullptr;
    std::string password;

    std::vector<std::string> volumes;  // narrow names, in order
    // Every volume opened, and those the naming rules will find next: no
    // extracted file may replace one of them.
    std::vector<FileId> volumeIds;
    // The name the naming rules gave the newest volume; a volume the caller
    // named otherwise does not change how the following ones are named.
    std::string lastRuleName;
    VolumeScan lastScan;  // of the newest volume
    VolumeScan firstScan;
    std::vector<ScannedFile> files;  // file headers of every volume seen, in order
    std::size_t opens = 0;
    std::unique_ptr<std::FILE, FileClose> file;
    std::int64_t fileSize = 0;
    std::vector<char> buffer = std::vector<char>(kReadBuffer);

    std::unique_ptr<archive, ArchiveFree> reader;
    archive_entry* current = nullptr;
    Entry entry;
    bool haveEntry = false;
    std::size_t entryIndex = 0;
    unsigned sticky = 0;       // returned by every later read once set
    unsigned volumeError = 0;  // why the next volume could not be had
    bool readError = false;

    int Call(unsigned msg, UNRAR_LPARAM p1, UNRAR_LPARAM p2) {
        return callback != nullptr ? callback(msg, userData, p1, p2) : 0;
    }

    const std::string& CurrentVolume() const {
        return volumes[std::min(opens, volumes.size()) - 1];
    }

    bool NewNumbering() const {
        return firstScan.rar5 || (firstScan.archiveFlags & ROADF_NEWNUMBERING) != 0;
    }

    // Asks for a volume that is not where the naming rules say. Wide question
    // first; a callee that leaves the name as it was gets the narrow one.
    bool AskVolume(std::string& name) {
        if (callback == nullptr && changeVolProc == nullptr) {
            return false;
        }
        std::vector<wchar_t> wide(kNameBuffer, L'\0');
        CopyWide(wide.data(), wide.size(), NarrowToWide(name));
        const std::wstring before(wide.data());
        if (callback != nullptr) {
            if (Call(UCM_CHANGEVOLUMEW, reinterpret_cast<UNRAR_LPARAM>(wide.data()), RAR_VOL_ASK) ==
                -1) {
                return false;
            }
            wide.back() = L'\0';
            if (before != wide.data()) {
                name = WideToNarrow(wide.data());
                return true;
            }
        }
        std::vector<char> narrow(kNameBuffer, '\0');
        CopyNarrow(narrow.data(), narrow.size(), name);
        const int answer =
            callback != nullptr
                ? Call(UCM_CHANGEVOLUME, reinterpret_cast<UNRAR_LPARAM>(narrow.data()), RAR_VOL_ASK)
                : changeVolProc(narrow.data(), RAR_VOL_ASK);
        narrow.back() = '\0';
        if (answer == -1 || name == narrow.data()) {
            return false;
        }
        name = narrow.data();
        return true;
    }

    bool NotifyVolume(const std::string& name) {
        if (callback != nullptr) {
            std::vector<wchar_t> wide(kNameBuffer, L'\0');
            CopyWide(wide.data(), wide.size(), NarrowToWide(name));
            if (Call(UCM_CHANGEVOLUMEW, reinterpret_cast<UNRAR_LPARAM>(wide.data()),
                     RAR_VOL_NOTIFY) == -1) {
                return false;
            }
            std::vector<char> narrow(kNameBuffer, '\0');
            CopyNarrow(narrow.data(), narrow.size(), name);
            return Call(UCM_CHANGEVOLUME, reinterpret_cast<UNRAR_LPARAM>(narrow.data()),
                        RAR_VOL_NOTIFY) != -1;
        }
        if (changeVolProc != nullptr) {
            std::vector<char> narrow(kNameBuffer, '\0');
            CopyNarrow(narrow.data(), narrow.size(), name);
            return changeVolProc(narrow.data(), RAR_VOL_NOTIFY) != -1;
        }
        return true;
    }

    void KeepVolume(const std::optional<FileId>& id) {
        if (id && std::find(volumeIds.begin(), volumeIds.end(), *id) == volumeIds.end()) {
            volumeIds.push_back(*id);
        }
    }

    // The later volumes where the naming rules put them; they are opened only
    // once the decoder reaches them, which may be after a member of the same
    // name was extracted.
    void KeepFollowingVolumes() {
        std::string name = lastRuleName;
        for (std::size_t i = volumes.size(); i < kMaxVolumes; ++i) {
            name = NextVolumeName(name, NewNumbering());
            const std::optional<FileId> id = FileIdOf(name);
            if (!id) {
                break;
            }
            KeepVolume(id);
        }
    }

    bool OpenFile(const std::string& name) {
        file.reset(std::fopen(name.c_str(), "rb"));
        if (file == nullptr) {
            return false;
        }
        KeepVolume(FileIdOf(file.get()));
        fileSize = 0;
        if (Seek(file.get(), 0, SEEK_END) == 0) {
            fileSize = Tell(file.get());
        }
        Seek(file.get(), 0, SEEK_SET);
        return true;
    }

    // The decoder wants the next volume.
    bool OpenNextVolume() {
        if (!lastScan.hasNextVolume && lastScan.complete) {
            return false;  // the set ends here: nothing to ask for
        }
        if (volumes.size() >= kMaxVolumes) {
            volumeError = ERAR_EOPEN;
            return false;
        }
        const std::string ruleName = NextVolumeName(lastRuleName, NewNumbering());
        std::string name = ruleName;
        for (int asked = 0; name == lastRuleName || !FileExists(name); ++asked) {
            if (asked == kMaxVolumeQuestions || !AskVolume(name)) {
                volumeError = ERAR_EOPEN;
                return false;
            }
        }
        VolumeScan scan;
        if (!ScanVolumeFile(name, scan) || !scan.isRar || !OpenFile(name)) {
            volumeError = ERAR_EOPEN;
            return false;
        }
        volumes.push_back(name);
        lastRuleName = ruleName;
        files.insert(files.end(), scan.files.begin(), scan.files.end());
        lastScan = std::move(scan);
        if (!NotifyVolume(name)) {
            volumeError = ERAR_EOPEN;
            file.reset();
            return false;
        }
        return true;
    }

    // Wide question first, then the narrow one, as for volumes.
    bool AskPassword() {
        if (!password.empty()) {
            return true;
        }
        if (callback != nullptr) {
            std::vector<wchar_t> wide(kPasswordBuffer, L'\0');
            if (Call(UCM_NEEDPASSWORDW, reinterpret_cast<UNRAR_LPARAM>(wide.data()),
                     static_cast<UNRAR_LPARAM>(wide.size())) == -1) {
                return false;
            }
            wide.back() = L'\0';
            if (wide[0] != L'\0') {
                password = WideToNarrow(wide.data());
                return true;
            }
            std::vector<char> narrow(kPasswordBuffer, '\0');
            if (Call(UCM_NEEDPASSWORD, reinterpret_cast<UNRAR_LPARAM>(narrow.data()),
                     static_cast<UNRAR_LPARAM>(narrow.size())) == -1) {
                return false;
            }
            narrow.back() = '\0';
            password = narrow.data();
        }
        return !password.empty();
    }

    // Codes for what this decoder cannot decrypt: no password at all, or a
    // password it cannot use.
    unsigned EncryptedResult() {
        return AskPassword() ? ERAR_UNKNOWN_FORMAT : ERAR_MISSING_PASSWORD;
    }

    unsigned FailureCode() const {
        if (volumeError != 0) {
            return volumeError;
        }
        return readError ? ERAR_EREAD : ERAR_BAD_DATA;
    }
};

// libarchive's client callbacks. Every node of the volume list carries the
// handle; the first open is the first volume, every later one the next volume.
int OpenCallback(archive*, void* data) {
    Handle& h = *static_cast<Handle*>(data);
    ++h.opens;
    if (h.opens == 1) {
        return h.OpenFile(h.volumes.front()) ? ARCHIVE_OK : ARCHIVE_FATAL;
    }
    return h.OpenNextVolume() ? ARCHIVE_OK : ARCHIVE_FATAL;
}

la_ssize_t ReadCallback(archive* a, void* data, const void** buffer) {
    Handle& h = *static_cast<Handle*>(data);
    *buffer = h.buffer.data();
    if (h.file == nullptr) {
        return 0;
    }
    const std::size_t n = std::fread(h.buffer.data(), 1, h.buffer.size(), h.file.get());
    if (n == 0 && std::ferror(h.file.get())) {
        h.readError = true;
        archive_set_error(a, errno, "Cannot read the volume");
        return -1;
    }
    return static_cast<la_ssize_t>(n);
}

// Skips within the current volume only; the reader reads on into the next one.
la_int64_t SkipCallback(archive*, void* data, la_int64_t request) {
    Handle& h = *static_cast<Handle*>(data);
    if (h.file == nullptr) {
        return 0;
    }
    const std::int64_t pos = Tell(h.file.get());
    const std::int64_t step =
        std::max<std::int64_t>(0, std::min<std::int64_t>(request, h.fileSize - pos));
    if (step == 0 || Seek(h.file.get(), step, SEEK_CUR) != 0) {
        return 0;
    }
    return step;
}

int CloseCallback(archive*, void* data) {
    static_cast<Handle*>(data)->file.reset();
    return ARCHIVE_OK;
}

void FillEntry(Handle& h) {
    archive_entry* e = h.current;
    Entry entry;
    // libarchive gives no UTF-8 form for a stored name that is not UTF-8; its
    // bytes are then read as the OEM code page, so that the name listed and the
    // name written agree.
    if (const char* utf8 = archive_entry_pathname_utf8(e)) {
        entry.utf8Name = utf8;
    } else if (const char* raw = archive_entry_pathname(e)) {
        entry.utf8Name = StoredNameToUtf8(raw);
    }
    entry.narrowName = NativeForm(Utf8ToNarrow(entry.utf8Name));
    entry.wideName = Utf8ToWide(NativeForm(entry.utf8Name));
    entry.directory = archive_entry_filetype(e) == AE_IFDIR;
    entry.symlink = archive_entry_filetype(e) == AE_IFLNK;
    entry.hardlink = archive_entry_hardlink(e) != nullptr;
    if (entry.symlink || entry.hardlink) {
        const char* target =
            entry.symlink ? archive_entry_symlink_utf8(e) : archive_entry_hardlink_utf8(e);
        const char* raw = entry.symlink ? archive_entry_symlink(e) : archive_entry_hardlink(e);
        if (target != nullptr) {
            entry.linkTarget = Utf8ToWide(target);
        } else if (raw != nullptr) {
            entry.linkTarget = Utf8ToWide(StoredNameToUtf8(raw));
        }
    }
    entry.mtime = archive_entry_mtime(e);
    entry.mtimeNsec = archive_entry_mtime_nsec(e);

    // The walk's record of the same header, when the two agree on the name.
    if (h.entryIndex < h.files.size()) {
        const ScannedFile& f = h.files[h.entryIndex];
        if (f.unicodeName || SlashForm(StoredNameToUtf8(f.name)) == SlashForm(entry.utf8Name)) {
            entry.info = f;
            entry.fromScan = true;
        }
    }
    if (!entry.fromScan) {
        ScannedFile& f = entry.info;
        f.hostOS = 3;
        f.attr = archive_entry_mode(e);
        f.unpVer = h.firstScan.rar5 ? 50 : 29;
        f.method = 0;  // not known
        f.flags =
            (entry.directory ? RHDF_DIRECTORY : 0) |
            (archive_entry_is_data_encrypted(e) ? RHDF_ENCRYPTED : 0) |
            ((h.firstScan.archiveFlags & ROADF_SOLID) != 0 && h.entryIndex > 0 ? RHDF_SOLID : 0);
    }
    if (!entry.info.hasTime) {
        entry.info.dosTime = DosTimeFromUnix(entry.mtime);  // RAR 5 keeps times in extra records
    }
    // The decoder knows the whole size of an entry split over volumes.
    if (archive_entry_size_is_set(e)) {
        entry.info.unpSize = static_cast<std::uint64_t>(archive_entry_size(e));
    }
    if (archive_entry_is_data_encrypted(e) > 0) {
        entry.info.flags |= RHDF_ENCRYPTED;
    }
    // Parts of a split entry are handed over as one entry.
    entry.info.flags &= ~static_cast<unsigned>(RHDF_SPLITBEFORE | RHDF_SPLITAFTER);
    h.entry = std::move(entry);
}

// Reads the next header into h.entry; 0 or an error code.
unsigned NextHeader(Handle& h) {
    if (h.sticky != 0) {
        return h.sticky;
    }
    if (h.firstScan.encryptedHeaders) {
        h.sticky = h.EncryptedResult();
        return h.sticky;
    }
    if (h.haveEntry) {
        ++h.entryIndex;
        h.haveEntry = false;
    }
    const int r = archive_read_next_header(h.reader.get(), &h.current);
    if (r == ARCHIVE_EOF) {
        h.sticky = ERAR_END_ARCHIVE;
        return h.sticky;
    }
    if (r < ARCHIVE_WARN) {
        // Like the vendor's reader: once the headers are damaged, every later
        // read reports the same.
        h.sticky = h.FailureCode();
        return h.sticky;
    }
    FillEntry(h);
    h.haveEntry = true;
    return ERAR_SUCCESS;
}

std::uint64_t FileTimeOf(std::int64_t unixTime, long nsec) {
    return static_cast<std::uint64_t>(unixTime + 11644473600LL) * 10000000ULL +
           static_cast<std::uint64_t>(nsec / 100);
}

void FillHeaderEx(Handle& h, RARHeaderDataEx* d) {
    const Entry& e = h.entry;
    const ScannedFile& f = e.info;
    const std::string volume = NativeForm(h.CurrentVolume());
    CopyNarrow(d->ArcName, sizeof(d->ArcName), volume);
    CopyWide(d->ArcNameW, 1024, NarrowToWide(volume));
    CopyNarrow(d->FileName, sizeof(d->FileName), e.narrowName);
    CopyWide(d->FileNameW, 1024, e.wideName);
    d->Flags = f.flags;
    d->PackSize = static_cast<unsigned>(f.packSize);
    d->PackSizeHigh = static_cast<unsigned>(f.packSize >> 32);
    d->UnpSize = static_cast<unsigned>(f.unpSize);
    d->UnpSizeHigh = static_cast<unsigned>(f.unpSize >> 32);
    d->HostOS = f.hostOS;
    d->FileCRC = f.fileCRC;
    d->FileTime = f.dosTime;
    d->UnpVer = f.unpVer;
    d->Method = f.method;
    d->FileAttr = f.attr;
    d->CmtSize = 0;
    d->CmtState = 0;
    d->DictSize = f.dictSizeKiB;
    d->HashType = f.hasCRC ? RAR_HASH_CRC32 : RAR_HASH_NONE;
    std::memset(d->Hash, 0, sizeof(d->Hash));
    d->RedirType = e.symlink ? (f.hostOS == 3 ? 1 : 2) : e.hardlink ? 4 : 0;
    if (d->RedirName != nullptr && d->RedirNameSize > 0) {
        CopyWide(d->RedirName, d->RedirNameSize, d->RedirType != 0 ? e.linkTarget : std::wstring());
    }
    d->DirTarget = 0;
    const std::uint64_t mtime = FileTimeOf(e.mtime, e.mtimeNsec);
    d->MtimeLow = static_cast<unsigned>(mtime);
    d->MtimeHigh = static_cast<unsigned>(mtime >> 32);
    d->CtimeLow = d->CtimeHigh = d->AtimeLow = d->AtimeHigh = 0;
    CopyWide(d->ArcNameEx, d->ArcNameExSize, NarrowToWide(volume));
    CopyWide(d->FileNameEx, d->FileNameExSize, e.wideName);
}

// Streams the entry's data to `sink` (may be null for a test), with the
// processed-data callback after every block.
unsigned ReadData(Handle& h, DataSink* sink) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int r = archive_read_data_block(h.reader.get(), &block, &size, &offset);
        if (r == ARCHIVE_EOF) {
            return ERAR_SUCCESS;
        }
        if (r < ARCHIVE_WARN) {
            h.sticky = h.FailureCode();
            return h.sticky;
        }
        if (size == 0) {
            continue;
        }
        if (sink != nullptr && !sink->Write(offset, block, size)) {
            return ERAR_EWRITE;
        }
        auto* bytes = static_cast<unsigned char*>(const_cast<void*>(block));
        if (h.callback != nullptr && h.Call(UCM_PROCESSDATA, reinterpret_cast<UNRAR_LPARAM>(bytes),
                                            static_cast<UNRAR_LPARAM>(size)) == -1) {
            return ERAR_UNKNOWN;
        }
        if (h.processDataProc != nullptr && h.processDataProc(bytes, static_cast<int>(size)) == 0) {
            return ERAR_UNKNOWN;
        }
    }
}

unsigned ProcessEntry(Handle& h, int operation, const std::string* destPath,
                      const std::string* destName) {
    if (!h.haveEntry) {
        return h.sticky != 0 ? h.sticky : ERAR_UNKNOWN;
    }
    // The next header read moves past whatever of this entry was not read.
    if (h.openMode != RAR_OM_EXTRACT || operation == RAR_SKIP) {
        return ERAR_SUCCESS;
    }
    if (operation != RAR_TEST && operation != RAR_EXTRACT) {
        return ERAR_UNKNOWN;
    }
    const Entry& e = h.entry;
    if ((e.info.flags & RHDF_ENCRYPTED) != 0 && !e.directory) {
        return h.EncryptedResult();
    }
    if (operation == RAR_TEST || e.symlink || e.hardlink) {
        // Links are never written: one could point out of the destination.
        return ReadData(h, nullptr);
    }
    ExtractTarget target;
    if (destName != nullptr && !destName->empty()) {
        target = ExtractTarget::Exact(*destName);
    } else {
        target = ExtractTarget::Under(destPath != nullptr ? *destPath : std::string(),
                                      SlashForm(e.utf8Name));
        if (!target.valid) {
            return ERAR_ECREATE;  // absolute, a drive, or ".." in the name
        }
    }
    if (e.directory) {
        return CreateFolders(target, true) ? ERAR_SUCCESS : ERAR_ECREATE;
    }
    OutputFile out(h.volumeIds);
    if (!out.Create(target)) {
        return ERAR_ECREATE;
    }
    const unsigned r = ReadData(h, &out);
    if (r != ERAR_SUCCESS && (r == ERAR_EWRITE || (h.opFlags & ROADOF_KEEPBROKEN) == 0)) {
        out.Discard();
        return r;
    }
    switch (out.Commit(e.mtime, e.mtimeNsec)) {
        case CommitResult::Done:
            return r;
        case CommitResult::Refused:
            return ERAR_ECREATE;  // a volume that was opened while the data was read
        case CommitResult::Failed:
            break;
    }
    return ERAR_EWRITE;
}

struct OpenComment {
    unsigned state = 0;
    std::string text;
};

// Hands the comment over as the vendor's library does: as much as the buffer
// holds with its terminating zero, and ERAR_SMALL_BUF when that is not all.
void DeliverComment(const OpenComment& comment, char* buffer, unsigned bufferSize,
                    wchar_t* wideBuffer, unsigned& size, unsigned& state) {
    size = 0;
    state = comment.state == 1 ? 0 : comment.state;
    if (comment.state != 1 || (buffer == nullptr && wideBuffer == nullptr) || bufferSize == 0) {
        return;
    }
    const std::string narrow = Utf8ToNarrow(comment.text);
    const std::size_t copied = std::min<std::size_t>(narrow.size(), bufferSize - 1);
    if (buffer != nullptr) {
        std::memcpy(buffer, narrow.data(), copied);
        buffer[copied] = '\0';
    }
    if (wideBuffer != nullptr) {
        CopyWide(wideBuffer, bufferSize, Utf8ToWide(comment.text));
    }
    size = static_cast<unsigned>(copied + 1);
    state = copied < narrow.size() ? ERAR_SMALL_BUF : 1;
}

void* Open(const std::string& name, unsigned openMode, UNRARCALLBACK callback,
           UNRAR_LPARAM userData, unsigned opFlags, unsigned& openResult, unsigned* archiveFlags,
           OpenComment& comment) {
    VolumeScan scan;
    if (name.empty() || !ScanVolumeFile(name, scan)) {
        openResult = ERAR_EOPEN;
        return nullptr;
    }
    if (!scan.isRar) {
        openResult = ERAR_BAD_ARCHIVE;
        return nullptr;
    }
    auto h = std::make_unique<Handle>();
    h->openMode = openMode;
    h->opFlags = opFlags;
    h->callback = callback;
    h->userData = userData;
    h->volumes.push_back(name);
    h->lastRuleName = name;
    h->files = scan.files;
    h->firstScan = scan;
    h->lastScan = std::move(scan);
    if ((h->firstScan.archiveFlags & ROADF_VOLUME) != 0) {
        h->KeepFollowingVolumes();
    }
    h->reader.reset(archive_read_new());
    archive* a = h->reader.get();
    if (a == nullptr) {
        openResult = ERAR_NO_MEMORY;
        return nullptr;
    }
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_set_open_callback(a, OpenCallback);
    archive_read_set_read_callback(a, ReadCallback);
    archive_read_set_skip_callback(a, SkipCallback);
    archive_read_set_close_callback(a, CloseCallback);
    archive_read_set_callback_data(a, h.get());
    if ((h->firstScan.archiveFlags & ROADF_VOLUME) != 0) {
        // One node per volume the set may have; later ones are found on demand.
        for (std::size_t i = 1; i < kMaxVolumes; ++i) {
            archive_read_append_callback_data(a, h.get());
        }
    }
    if (archive_read_open1(a) != ARCHIVE_OK) {
        openResult = h->file == nullptr && h->opens > 0 ? ERAR_EOPEN : ERAR_BAD_ARCHIVE;
        return nullptr;
    }
    if (archiveFlags != nullptr) {
        *archiveFlags =
            h->firstScan.archiveFlags | (h->firstScan.commentState != 0 ? ROADF_COMMENT : 0);
    }
    comment.state = h->firstScan.commentState;
    comment.text = h->firstScan.comment;
    openResult = ERAR_SUCCESS;
    return h.release();
}

}  // namespace
}  // namespace unrar

using unrar::Handle;

namespace {

// Both open records end here; the extended one adds a wide name, the callback,
// the open flags and a wide comment buffer.
template <typename Data>
void* OpenArchive(Data* data) {
    constexpr bool kEx = std::is_same_v<Data, RAROpenArchiveDataEx>;
    const unrar::Utf8Locale locale;
    if (data == nullptr) {
        return nullptr;
    }
    data->CmtSize = 0;
    data->CmtState = 0;
    try {
        // The record is packed: its fields are copied, never bound by reference.
        std::string name;
        UNRARCALLBACK callback = nullptr;
        UNRAR_LPARAM userData = 0;
        unsigned opFlags = 0;
        unsigned flags = 0;
        wchar_t* commentW = nullptr;
        if constexpr (kEx) {
            data->Flags = 0;
            if (data->ArcNameW != nullptr && data->ArcNameW[0] != L'\0') {
                name = parevo::WideToNarrow(std::wstring(data->ArcNameW));
            }
            callback = data->Callback;
            userData = data->UserData;
            opFlags = data->OpFlags;
            commentW = data->CmtBufW;
        }
        if (name.empty() && data->ArcName != nullptr) {
            name = data->ArcName;
        }
        unsigned result = ERAR_SUCCESS;
        unrar::OpenComment comment;
        void* handle = unrar::Open(name, data->OpenMode, callback, userData, opFlags, result,
                                   kEx ? &flags : nullptr, comment);
        data->OpenResult = result;
        if constexpr (kEx) {
            data->Flags = flags;
        }
        unsigned size = 0, state = 0;
        unrar::DeliverComment(comment, data->CmtBuf, data->CmtBufSize, commentW, size, state);
        data->CmtSize = size;
        data->CmtState = state;
        return handle;
    } catch (const std::bad_alloc&) {
        data->OpenResult = ERAR_NO_MEMORY;
    } catch (...) {
        data->OpenResult = ERAR_UNKNOWN;
    }
    return nullptr;
}

}  // namespace

UNRAR_EXPORT void* UNRAR_CALL RAROpenArchive(RAROpenArchiveData* data) {
    return OpenArchive(data);
}

UNRAR_EXPORT void* UNRAR_CALL RAROpenArchiveEx(RAROpenArchiveDataEx* data) {
    return OpenArchive(data);
}

UNRAR_EXPORT int UNRAR_CALL RARCloseArchive(void* handle) {
    const unrar::Utf8Locale locale;
    delete static_cast<Handle*>(handle);
    return ERAR_SUCCESS;
}

UNRAR_EXPORT int UNRAR_CALL RARReadHeaderEx(void* handle, RARHeaderDataEx* header) {
    const unrar::Utf8Locale locale;
    if (handle == nullptr || header == nullptr) {
        return ERAR_UNKNOWN;
    }
    Handle& h = *static_cast<Handle*>(handle);
    try {
        const unsigned r = unrar::NextHeader(h);
        if (r == ERAR_SUCCESS) {
            unrar::FillHeaderEx(h, header);
        }
        return static_cast<int>(r);
    } catch (const std::bad_alloc&) {
        return ERAR_NO_MEMORY;
    } catch (...) {
        return ERAR_UNKNOWN;
    }
}

UNRAR_EXPORT int UNRAR_CALL RARReadHeader(void* handle, RARHeaderData* header) {
    if (handle == nullptr || header == nullptr) {
        return ERAR_UNKNOWN;
    }
    auto ex = std::make_unique<RARHeaderDataEx>();
    std::memset(ex.get(), 0, sizeof(RARHeaderDataEx));
    const int r = RARReadHeaderEx(handle, ex.get());
    if (r == ERAR_SUCCESS) {
        unrar::CopyNarrow(header->ArcName, sizeof(header->ArcName), ex->ArcName);
        unrar::CopyNarrow(header->FileName, sizeof(header->FileName), ex->FileName);
        header->Flags = ex->Flags;
        header->PackSize = ex->PackSize;
        header->UnpSize = ex->UnpSize;
        header->HostOS = ex->HostOS;
        header->FileCRC = ex->FileCRC;
        header->FileTime = ex->FileTime;
        header->UnpVer = ex->UnpVer;
        header->Method = ex->Method;
        header->FileAttr = ex->FileAttr;
        header->CmtSize = 0;
        header->CmtState = 0;
    }
    return r;
}

namespace {

// Both name forms end here, with the destination already in narrow form.
template <typename Char, typename ToNarrow>
int ProcessFile(void* handle, int operation, Char* destPath, Char* destName, ToNarrow toNarrow) {
    const unrar::Utf8Locale locale;
    if (handle == nullptr) {
        return ERAR_UNKNOWN;
    }
    try {
        const std::string path = destPath != nullptr ? toNarrow(destPath) : "";
        const std::string name = destName != nullptr ? toNarrow(destName) : "";
        return static_cast<int>(unrar::ProcessEntry(*static_cast<Handle*>(handle), operation,
                                                    destPath != nullptr ? &path : nullptr,
                                                    destName != nullptr ? &name : nullptr));
    } catch (const std::bad_alloc&) {
        return ERAR_NO_MEMORY;
    } catch (...) {
        return ERAR_UNKNOWN;
    }
}

}  // namespace

UNRAR_EXPORT int UNRAR_CALL RARProcessFile(void* handle, int operation, char* destPath,
                                           char* destName) {
    return ProcessFile(handle, operation, destPath, destName,
                       [](const char* text) { return std::string(text); });
}

UNRAR_EXPORT int UNRAR_CALL RARProcessFileW(void* handle, int operation, wchar_t* destPath,
                                            wchar_t* destName) {
    return ProcessFile(handle, operation, destPath, destName, [](const wchar_t* text) {
        return parevo::WideToNarrow(std::wstring(text));
    });
}

UNRAR_EXPORT void UNRAR_CALL RARSetCallback(void* handle, UNRARCALLBACK callback,
                                            UNRAR_LPARAM userData) {
    if (handle != nullptr) {
        static_cast<Handle*>(handle)->callback = callback;
        static_cast<Handle*>(handle)->userData = userData;
    }
}

UNRAR_EXPORT void UNRAR_CALL RARSetChangeVolProc(void* handle, CHANGEVOLPROC proc) {
    if (handle != nullptr) {
        static_cast<Handle*>(handle)->changeVolProc = proc;
    }
}

UNRAR_EXPORT void UNRAR_CALL RARSetProcessDataProc(void* handle, PROCESSDATAPROC proc) {
    if (handle != nullptr) {
        static_cast<Handle*>(handle)->processDataProc = proc;
    }
}

UNRAR_EXPORT void UNRAR_CALL RARSetPassword(void* handle, char* password) {
    if (handle != nullptr) {
        static_cast<Handle*>(handle)->password = password != nullptr ? password : "";
    }
}

UNRAR_EXPORT int UNRAR_CALL RARGetDllVersion() {
    return RAR_DLL_VERSION;
}
