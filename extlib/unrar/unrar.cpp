// The RAR extraction library's entry points, on libarchive.
//
// The headers come from our own walk over each volume's blocks, which checks
// them as the vendor's library does; libarchive only decodes the members' data,
// reading a volume set as one stream of volumes handed over one after the
// other, and every byte it hands over is checked against the sizes and
// checksums of the headers. Each later volume is looked for by the naming rules
// when the headers or the data reach it, and asked for through the callback
// when it is missing.

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

#include "checksum.h"
#include "extract_writer.h"
#include "platform/stdio_file.h"
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
// A volume is a regular file; a FIFO of that name is never waited on.
bool VolumeThere(const std::string& path) {
    return OpenRegularFile(path) != nullptr;
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
    ScannedFile info;
    std::string utf8Name;  // '/' separators
    std::string narrowName;
    std::wstring wideName;
    std::wstring linkTarget;
    std::size_t volume = 0;   // the volume its header is in
    std::size_t ordinal = 0;  // its place among the members the decoder reports
};

struct Volume {
    std::string name;
    VolumeScan scan;
};

struct Handle {
    unsigned openMode = RAR_OM_EXTRACT;
    unsigned opFlags = 0;
    UNRARCALLBACK callback = nullptr;
    UNRAR_LPARAM userData = 0;
    CHANGEVOLPROC changeVolProc = nullptr;
    PROCESSDATAPROC processDataProc = nullptr;
    std::string password;

    // The volumes found so far, in order, with their headers; the first is the
    // one opened. A later one is looked for (and asked for) when the headers or
    // the data reach it.
    std::vector<Volume> volumes;
    // Every volume opened, and those the naming rules will find next: no
    // extracted file may replace one of them.
    std::vector<FileIdentity> volumeIds;
    // The name the naming rules gave the newest volume; a volume the caller
    // named otherwise does not change how the following ones are named.
    std::string lastRuleName;

    // The header reads walk the volumes' file headers.
    std::size_t volumeIndex = 0;
    std::size_t fileIndex = 0;
    bool jumped = false;  // this volume was reached by following a split member
    Entry entry;
    bool haveEntry = false;
    std::size_t reported = 0;  // members reported that the decoder reports too
    unsigned sticky = 0;       // returned by every later header read once set

    // The volume the decoder reads, through the callbacks below.
    std::size_t opens = 0;
    std::size_t current = 0;  // its index in `volumes`
    StdioFile file;
    std::int64_t fileSize = 0;
    std::vector<char> buffer = std::vector<char>(kReadBuffer);
    unsigned volumeError = 0;  // why a volume could not be had
    bool readError = false;
    // The decoder, opened when the first member's data is wanted; it reads the
    // volumes one after the other as one stream. Freed first: closing it calls
    // back into the members above.
    std::unique_ptr<archive, ArchiveFree> reader;
    std::size_t decoded = 0;  // headers the decoder has read
    unsigned decoderError = 0;

    int Call(unsigned msg, UNRAR_LPARAM p1, UNRAR_LPARAM p2) {
        return callback != nullptr ? callback(msg, userData, p1, p2) : 0;
    }

    const VolumeScan& FirstScan() const { return volumes.front().scan; }

    bool NewNumbering() const {
        return FirstScan().rar5 || (FirstScan().archiveFlags & ROADF_NEWNUMBERING) != 0;
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

    void KeepVolume(const std::optional<FileIdentity>& id) {
        if (id && std::find(volumeIds.begin(), volumeIds.end(), *id) == volumeIds.end()) {
            volumeIds.push_back(*id);
        }
    }

    // The later volumes where the naming rules put them; they are opened only
    // once the headers or the data reach them, which may be after a member of
    // the same name was extracted.
    void KeepFollowingVolumes() {
        std::string name = lastRuleName;
        for (std::size_t i = volumes.size(); i < kMaxVolumes; ++i) {
            name = NextVolumeName(name, NewNumbering());
            const std::optional<FileIdentity> id = IdentityOf(name);
            if (!id) {
                break;
            }
            KeepVolume(id);
        }
    }

    // Finds the volume after the newest one, by the naming rules or by asking;
    // false (and volumeError set) when there is none to be had.
    bool FindNextVolume() {
        if (volumes.size() >= kMaxVolumes) {
            volumeError = ERAR_EOPEN;
            return false;
        }
        const std::string ruleName = NextVolumeName(lastRuleName, NewNumbering());
        std::string name = ruleName;
        for (int asked = 0; name == lastRuleName || !VolumeThere(name); ++asked) {
            if (asked == kMaxVolumeQuestions || !AskVolume(name)) {
                volumeError = ERAR_EOPEN;
                return false;
            }
        }
        Volume next;
        next.name = name;
        if (!ScanVolumeFile(name, next.scan) || !next.scan.isRar) {
            volumeError = ERAR_EOPEN;
            return false;
        }
        KeepVolume(IdentityOf(name));
        volumes.push_back(std::move(next));
        lastRuleName = ruleName;
        if (!NotifyVolume(name)) {
            volumeError = ERAR_EOPEN;
            return false;
        }
        return true;
    }

    bool HaveVolume(std::size_t index) {
        while (volumes.size() <= index) {
            if (!FindNextVolume()) {
                return false;
            }
        }
        return true;
    }

    // The volumes a member split over volumes continues into, up to its last
    // part; 0 or the code of the volume that cannot be had.
    unsigned FindParts(const Entry& e) {
        unsigned flags = e.info.flags;
        for (std::size_t v = e.volume; (flags & RHDF_SPLITAFTER) != 0; ++v) {
            if (!HaveVolume(v + 1)) {
                return volumeError != 0 ? volumeError : ERAR_EOPEN;
            }
            const auto& files = volumes[v + 1].scan.files;
            if (files.empty() || (files.front().flags & RHDF_SPLITBEFORE) == 0) {
                break;
            }
            flags = files.front().flags;
        }
        return 0;
    }

    // The header of a member's last part, which holds the checksums of the whole
    // member; null when the volumes do not lead to it.
    const ScannedFile* LastPart(const Entry& e) const {
        const ScannedFile* part = &e.info;
        for (std::size_t v = e.volume + 1; (part->flags & RHDF_SPLITAFTER) != 0; ++v) {
            if (v >= volumes.size() || volumes[v].scan.files.empty() ||
                (volumes[v].scan.files.front().flags & RHDF_SPLITBEFORE) == 0) {
                return nullptr;
            }
            part = &volumes[v].scan.files.front();
        }
        return part;
    }

    bool OpenFile(const std::string& name) {
        file = OpenRegularFile(name);
        if (file == nullptr) {
            return false;
        }
        KeepVolume(IdentityOfFile(file.get()));
        fileSize = 0;
        if (SeekFile(file.get(), 0, SEEK_END) == 0) {
            fileSize = TellFile(file.get());
        }
        SeekFile(file.get(), 0, SEEK_SET);
        return true;
    }

    // The decoder wants volume `index`. One the headers say does not exist is not
    // asked for.
    bool OpenVolume(std::size_t index) {
        if (index >= volumes.size()) {
            const VolumeScan& last = volumes.back().scan;
            if ((!last.hasNextVolume && last.Complete()) || !HaveVolume(index)) {
                return false;
            }
        }
        if (!OpenFile(volumes[index].name)) {
            volumeError = ERAR_EOPEN;
            return false;
        }
        current = index;
        return true;
    }

    // Shows the decoder the headers of the current volume in the forms it reads
    // (`bytes` were read at `pos`).
    void ApplyPatches(std::uint64_t pos, char* bytes, std::size_t size) const {
        const auto& patches = volumes[current].scan.decoderPatches;
        auto p = std::partition_point(patches.begin(), patches.end(), [&](const DecoderPatch& q) {
            return q.offset + q.bytes.size() <= pos;
        });
        for (; p != patches.end() && p->offset < pos + size; ++p) {
            const std::uint64_t from = std::max(p->offset, pos);
            const std::uint64_t to =
                std::min<std::uint64_t>(p->offset + p->bytes.size(), pos + size);
            std::memcpy(bytes + (from - pos), p->bytes.data() + (from - p->offset),
                        static_cast<std::size_t>(to - from));
        }
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
// handle; the n-th open is the n-th volume.
int OpenCallback(archive*, void* data) {
    Handle& h = *static_cast<Handle*>(data);
    return h.OpenVolume(h.opens++) ? ARCHIVE_OK : ARCHIVE_FATAL;
}

la_ssize_t ReadCallback(archive* a, void* data, const void** buffer) {
    Handle& h = *static_cast<Handle*>(data);
    *buffer = h.buffer.data();
    if (h.file == nullptr) {
        return 0;
    }
    const std::int64_t pos = TellFile(h.file.get());
    const std::size_t n = std::fread(h.buffer.data(), 1, h.buffer.size(), h.file.get());
    if (n == 0 && std::ferror(h.file.get())) {
        h.readError = true;
        archive_set_error(a, errno, "Cannot read the volume");
        return -1;
    }
    if (pos >= 0) {
        h.ApplyPatches(static_cast<std::uint64_t>(pos), h.buffer.data(), n);
    }
    return static_cast<la_ssize_t>(n);
}

// Skips within the current volume only; the reader reads on into the next one.
la_int64_t SkipCallback(archive*, void* data, la_int64_t request) {
    Handle& h = *static_cast<Handle*>(data);
    if (h.file == nullptr) {
        return 0;
    }
    const std::int64_t pos = TellFile(h.file.get());
    const std::int64_t step =
        std::max<std::int64_t>(0, std::min<std::int64_t>(request, h.fileSize - pos));
    if (step == 0 || SeekFile(h.file.get(), step, SEEK_CUR) != 0) {
        return 0;
    }
    return step;
}

int CloseCallback(archive*, void* data) {
    static_cast<Handle*>(data)->file.reset();
    return ARCHIVE_OK;
}

void FillEntry(Handle& h, const ScannedFile& f) {
    Entry entry;
    entry.info = f;
    // A stored RAR 4 name is read as the OEM code page unless it is UTF-8
    // already, so that the name listed and the name written agree.
    entry.utf8Name = SlashForm(f.storedName ? StoredNameToUtf8(f.name) : f.name);
    entry.narrowName = NativeForm(Utf8ToNarrow(entry.utf8Name));
    entry.wideName = Utf8ToWide(NativeForm(entry.utf8Name));
    if (f.redirType != 0) {
        entry.linkTarget =
            Utf8ToWide(f.storedName ? StoredNameToUtf8(f.redirTarget) : f.redirTarget);
    }
    entry.volume = h.volumeIndex;
    entry.ordinal = h.reported;
    h.entry = std::move(entry);
    h.haveEntry = true;
}

// Reads the next header into h.entry; 0 or an error code. Parts of a member
// split over volumes are one entry: after a part that goes on, the next header
// is read in the next volume, where the part that continues it is passed over.
unsigned NextHeader(Handle& h) {
    if (h.sticky != 0) {
        return h.sticky;
    }
    if (h.FirstScan().encryptedHeaders) {
        h.sticky = h.EncryptedResult();
        return h.sticky;
    }
    // Set when the next header is in the next volume; `following` when that is
    // because a member goes on there.
    bool toNextVolume = false;
    bool following = false;
    if (h.haveEntry) {
        h.haveEntry = false;
        toNextVolume = following = (h.entry.info.flags & RHDF_SPLITAFTER) != 0;
    }
    for (;;) {
        if (toNextVolume) {
            if (!h.HaveVolume(h.volumeIndex + 1)) {
                h.sticky = h.volumeError != 0 ? h.volumeError : ERAR_EOPEN;
                return h.sticky;
            }
            ++h.volumeIndex;
            h.fileIndex = 0;
            h.jumped = following;
            toNextVolume = following = false;
        }
        const VolumeScan& scan = h.volumes[h.volumeIndex].scan;
        if (h.fileIndex == scan.files.size()) {
            // Like the vendor's reader: once the headers are damaged, every later
            // read reports the same.
            if (scan.Complete() && scan.hasNextVolume) {
                toNextVolume = true;
                continue;
            }
            if (scan.Complete()) {
                h.sticky = ERAR_END_ARCHIVE;
            } else if (scan.encryptedHeaders) {
                h.sticky = h.EncryptedResult();  // a later volume whose headers are encrypted
            } else {
                h.sticky = scan.end;
            }
            return h.sticky;
        }
        const ScannedFile& f = scan.files[h.fileIndex++];
        const bool first = h.fileIndex == 1;
        if ((f.flags & RHDF_SPLITBEFORE) != 0 && h.openMode != RAR_OM_LIST_INCSPLIT) {
            if (first && h.jumped) {
                toNextVolume = following = (f.flags & RHDF_SPLITAFTER) != 0;  // it reads on
                continue;
            }
            // A part whose beginning is in a volume before the one opened: list
            // mode passes over it, as the vendor's does; it cannot be extracted.
            if (h.openMode == RAR_OM_LIST) {
                toNextVolume = following = (f.flags & RHDF_SPLITAFTER) != 0;
                continue;
            }
            h.sticky = ERAR_BAD_DATA;
            return h.sticky;
        }
        FillEntry(h, f);
        if ((f.flags & RHDF_SPLITBEFORE) == 0) {
            ++h.reported;
        }
        return ERAR_SUCCESS;
    }
}

void FillHeaderEx(Handle& h, RARHeaderDataEx* d) {
    const Entry& e = h.entry;
    const ScannedFile& f = e.info;
    const std::string volume = NativeForm(h.volumes[e.volume].name);
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
    d->HashType = f.hasBlake2 ? RAR_HASH_BLAKE2 : f.hasCRC ? RAR_HASH_CRC32 : RAR_HASH_NONE;
    std::memset(d->Hash, 0, sizeof(d->Hash));
    if (f.hasBlake2) {
        std::memcpy(d->Hash, f.blake2.data(), sizeof(d->Hash));
    }
    d->RedirType = f.redirType;
    if (d->RedirName != nullptr && d->RedirNameSize > 0) {
        CopyWide(d->RedirName, d->RedirNameSize, e.linkTarget);
    }
    d->DirTarget = f.dirTarget ? 1 : 0;
    d->MtimeLow = static_cast<unsigned>(f.mtime);
    d->MtimeHigh = static_cast<unsigned>(f.mtime >> 32);
    d->CtimeLow = d->CtimeHigh = d->AtimeLow = d->AtimeHigh = 0;
    CopyWide(d->ArcNameEx, d->ArcNameExSize, NarrowToWide(volume));
    CopyWide(d->FileNameEx, d->FileNameExSize, e.wideName);
}

// Opens the decoder on the first volume; the later ones it reads through the
// same callbacks.
unsigned OpenDecoder(Handle& h) {
    h.reader.reset(archive_read_new());
    archive* a = h.reader.get();
    if (a == nullptr) {
        return ERAR_NO_MEMORY;
    }
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_set_open_callback(a, OpenCallback);
    archive_read_set_read_callback(a, ReadCallback);
    archive_read_set_skip_callback(a, SkipCallback);
    archive_read_set_close_callback(a, CloseCallback);
    archive_read_set_callback_data(a, &h);
    if ((h.FirstScan().archiveFlags & ROADF_VOLUME) != 0) {
        // One node per volume the set may have; later ones are found on demand.
        for (std::size_t i = 1; i < kMaxVolumes; ++i) {
            archive_read_append_callback_data(a, &h);
        }
    }
    return archive_read_open1(a) == ARCHIVE_OK ? 0 : h.FailureCode();
}

// Brings the decoder to the current entry's header. The decoder reads the same
// members in the same order; whatever it hands over is checked against the
// headers' sizes and checksums, so a decoder that strays gives damaged data,
// never another member's.
unsigned SyncDecoder(Handle& h) {
    if (h.decoderError != 0) {
        return h.decoderError;
    }
    if (h.reader == nullptr) {
        h.decoderError = OpenDecoder(h);
    }
    while (h.decoderError == 0 && h.decoded <= h.entry.ordinal) {
        archive_entry* current = nullptr;
        const int r = archive_read_next_header(h.reader.get(), &current);
        if (r == ARCHIVE_EOF) {
            h.decoderError = ERAR_BAD_DATA;
        } else if (r < ARCHIVE_WARN) {
            h.decoderError = h.FailureCode();
        } else {
            ++h.decoded;
        }
    }
    return h.decoderError;
}

// Streams the entry's data to `sink` (may be null for a test), with the
// processed-data callback after every block, and checks it against the sizes
// and checksums of the member's headers: no byte past the size they give, and
// nothing short of it.
unsigned ReadData(Handle& h, DataSink* sink) {
    const ScannedFile& f = h.entry.info;
    std::uint32_t crc = 0;
    std::optional<Blake2sp> blake2;
    if (f.hasBlake2 || ((f.flags & RHDF_SPLITAFTER) != 0 && h.FirstScan().rar5)) {
        blake2.emplace();  // a split member's last part tells which checksum it keeps
    }
    std::uint64_t done = 0;
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int r = archive_read_data_block(h.reader.get(), &block, &size, &offset);
        if (r == ARCHIVE_EOF) {
            break;
        }
        if (r < ARCHIVE_WARN) {
            h.decoderError = h.FailureCode();
            return h.decoderError;
        }
        if (size == 0) {
            continue;
        }
        if (offset < 0 || static_cast<std::uint64_t>(offset) != done ||
            (f.unpSizeKnown && size > f.unpSize - done)) {
            return ERAR_BAD_DATA;
        }
        crc = Crc32(block, size, crc);
        if (blake2) {
            blake2->Update(block, size);
        }
        done += size;
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
    if (f.unpSizeKnown && done != f.unpSize) {
        h.decoderError = h.FailureCode();  // a volume, a read or the data failed
        return h.decoderError;
    }
    const ScannedFile* last = h.LastPart(h.entry);
    if (last == nullptr || (last->hasCRC && last->fileCRC != crc) ||
        (last->hasBlake2 && (!blake2 || blake2->Final() != last->blake2))) {
        return ERAR_BAD_DATA;
    }
    return ERAR_SUCCESS;
}

unsigned ProcessEntry(Handle& h, int operation, const std::string* destPath,
                      const std::string* destName) {
    if (!h.haveEntry) {
        return h.sticky != 0 ? h.sticky : ERAR_UNKNOWN;
    }
    const Entry& e = h.entry;
    // Moving past a member that goes on in later volumes needs those volumes,
    // whatever is done with it.
    if (const unsigned code = h.FindParts(e)) {
        return code;
    }
    if (h.openMode != RAR_OM_EXTRACT || operation == RAR_SKIP) {
        return ERAR_SUCCESS;
    }
    if (operation != RAR_TEST && operation != RAR_EXTRACT) {
        return ERAR_UNKNOWN;
    }
    const bool directory = (e.info.flags & RHDF_DIRECTORY) != 0;
    // Not damage: a format this library cannot unpack.
    if (e.info.unknownVersion && !directory) {
        return ERAR_UNKNOWN_FORMAT;
    }
    if ((e.info.flags & RHDF_ENCRYPTED) != 0 && !directory) {
        return h.EncryptedResult();
    }
    // Links are never written (one could point out of the destination), and
    // folders have no data.
    if (e.info.redirType != 0 || (directory && operation == RAR_TEST)) {
        return ERAR_SUCCESS;
    }
    ExtractTarget target;
    if (operation == RAR_EXTRACT) {
        if (destName != nullptr && !destName->empty()) {
            target = ExtractTarget::Exact(*destName);
        } else {
            target =
                ExtractTarget::Under(destPath != nullptr ? *destPath : std::string(), e.utf8Name);
            if (!target.valid) {
                return ERAR_ECREATE;  // absolute, a drive, or ".." in the name
            }
        }
        if (directory) {
            return CreateFolders(target, true) ? ERAR_SUCCESS : ERAR_ECREATE;
        }
    }
    if (const unsigned code = SyncDecoder(h)) {
        return code;
    }
    if (operation == RAR_TEST) {
        return ReadData(h, nullptr);
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
    switch (out.Commit(e.info.mtime)) {
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
    Volume first;
    first.name = name;
    if (name.empty() || !ScanVolumeFile(name, first.scan)) {
        openResult = ERAR_EOPEN;
        return nullptr;
    }
    if (!first.scan.isRar) {
        openResult = ERAR_BAD_ARCHIVE;
        return nullptr;
    }
    if (first.scan.openResult != 0) {
        openResult = first.scan.openResult;
        return nullptr;
    }
    auto h = std::make_unique<Handle>();
    h->openMode = openMode;
    h->opFlags = opFlags;
    h->callback = callback;
    h->userData = userData;
    h->lastRuleName = name;
    h->KeepVolume(IdentityOf(name));
    h->volumes.push_back(std::move(first));
    const VolumeScan& scan = h->FirstScan();
    if ((scan.archiveFlags & ROADF_VOLUME) != 0) {
        h->KeepFollowingVolumes();
    }
    if (archiveFlags != nullptr) {
        *archiveFlags = scan.archiveFlags | (scan.commentState != 0 ? ROADF_COMMENT : 0);
    }
    comment.state = scan.commentState;
    comment.text = scan.comment;
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
