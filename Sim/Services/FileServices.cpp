// The simulated device's file system, rooted in SimConfig::rootDir, with
// Win32-like results: handles for open files and searches, u8 results for
// the yes/no commands, FILETIME values high half first on the wire.
#include "Sim/Services/FileServices.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <system_error>

#include "Sim/Core/DeviceState.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr uint32_t kCodeCreateFile = 33;
constexpr uint32_t kCodeCloseHandle = 34;
constexpr uint32_t kCodeReadFile = 35;
constexpr uint32_t kCodeWriteFile = 36;
constexpr uint32_t kCodeDeleteFile = 37;
constexpr uint32_t kCodeFindFirstFile = 38;
constexpr uint32_t kCodeFindNextFile = 39;
constexpr uint32_t kCodeFindClose = 40;
constexpr uint32_t kCodeCreateDirectory = 41;
constexpr uint32_t kCodeRemoveDirectory = 42;
constexpr uint32_t kCodeCreateProcess = 43;
constexpr uint32_t kCodeGetDiskFreeSpace = 45;
constexpr uint32_t kCodeSetFilePointer = 46;
constexpr uint32_t kCodeGetFileAttributes = 47;
constexpr uint32_t kCodeSetFileAttributes = 48;
constexpr uint32_t kCodeCopyFile = 49;
constexpr uint32_t kCodeMoveFile = 50;

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kTruncateExisting = 5;
constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
// Attributes a caller may set on a file.
constexpr uint32_t kSettableAttributes = kFileAttributeReadOnly | kFileAttributeHidden | kFileAttributeSystem |
                                         kFileAttributeArchive | kFileAttributeNormal;

// The largest read the device serves in one command (a longer request gets
// a short read, as ReadFile allows).
constexpr uint32_t kMaxRead = 1u << 20;
// A hostile device sends this much more than was asked for, and names this
// long.
constexpr uint32_t kHostileExtraBytes = 64;
constexpr size_t kHostileNameUnits = 300;

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeUnixEpoch = 116444736000000000LL;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

std::string LowerAscii(std::string s) {
    for (char& c : s) c = AsciiLower(c);
    return s;
}

// Win32 wildcard match, '*' any run, '?' one character, ASCII case ignored.
bool WildcardMatch(const std::u16string& pattern, const std::u16string& name) {
    auto lower = [](char16_t c) -> char16_t { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    size_t p = 0, n = 0, starP = std::u16string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || lower(pattern[p]) == lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

bool IsWithin(const fs::path& root, const fs::path& p) {
    auto r = root.begin();
    auto q = p.begin();
    for (; r != root.end(); ++r, ++q) {
        if (q == p.end() || *r != *q) return false;
    }
    return true;
}

// A component the device accepts in a path.
bool ValidComponent(const std::string& c) {
    for (char ch : c) {
        unsigned char u = static_cast<unsigned char>(ch);
        if (u < 0x20 || ch == ':' || ch == '*' || ch == '?' || ch == '"' || ch == '<' || ch == '>' || ch == '|')
            return false;
    }
    return true;
}

// Splits a device path into its components ("\A\B", "/A/B" and "A\B" alike),
// resolving "." and ".."; false when ".." would climb above the root.
bool SplitDevicePath(const std::string& path, std::vector<std::string>* parts) {
    parts->clear();
    std::string current;
    auto flush = [&]() -> bool {
        if (current.empty() || current == ".") {
        } else if (current == "..") {
            if (parts->empty()) return false;
            parts->pop_back();
        } else {
            if (!ValidComponent(current)) return false;
            parts->push_back(current);
        }
        current.clear();
        return true;
    };
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!flush()) return false;
        } else {
            current.push_back(c);
        }
    }
    return flush();
}

struct FindEntry {
    uint32_t attributes = 0;
    uint64_t fileTime = 0;
    uint64_t size = 0;
    std::u16string name;
};

struct OpenFile {
    std::fstream stream;
    fs::path path;
    bool canRead = false;
    bool canWrite = false;
    uint64_t position = 0;
};

struct Search {
    std::vector<FindEntry> entries;
    size_t next = 0;
};

fs::path MakeTemporaryRoot() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = fs::current_path();
    std::random_device rd;
    std::mt19937 gen(rd());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = base / ("vantro-sim-" + std::to_string(gen() % 100000000u));
        if (fs::create_directory(candidate, ec) && !ec) return candidate;
    }
    return base / "vantro-sim";
}

void PutFileTime(WireOut& out, uint64_t t) {
    out.u32(static_cast<uint32_t>(t >> 32));  // high half first
    out.u32(static_cast<uint32_t>(t));
}

void PutFindFields(WireOut& out, const FindEntry& e) {
    out.u32(e.attributes);
    PutFileTime(out, e.fileTime);  // creation
    PutFileTime(out, e.fileTime);  // last access
    PutFileTime(out, e.fileTime);  // last write
    out.u32(static_cast<uint32_t>(e.size >> 32));
    out.u32(static_cast<uint32_t>(e.size));
    out.u16(e.name.empty() ? 0 : static_cast<uint16_t>((e.name.size() + 1) * 2));
    out.wstr(e.name);
}


}  // namespace

bool MapDevicePath(const fs::path& root, const std::u16string& devicePath, fs::path* host) {
    std::vector<std::string> parts;
    if (!SplitDevicePath(ToUtf8(devicePath), &parts)) return false;
    fs::path current = root;
    bool exists = true;
    std::error_code ec;
    for (const std::string& part : parts) {
        fs::path next = current / fs::u8path(part);
        if (exists) {
            fs::file_status st = fs::symlink_status(next, ec);
            if (ec || !fs::exists(st)) {
                // Look for the name in another case.
                bool found = false;
                if (fs::is_directory(current, ec)) {
                    for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
                        if (EqualNoCase(it->path().filename().u8string(), part)) {
                            next = it->path();
                            found = true;
                            break;
                        }
                    }
                }
                exists = found;
                if (found) st = fs::symlink_status(next, ec);
            }
            if (exists && fs::is_symlink(st)) {
                fs::path target = fs::canonical(next, ec);
                if (ec || !IsWithin(root, target)) return false;
            }
        }
        current = next;
    }
    if (exists) {
        fs::path real = fs::canonical(current, ec);
        if (!ec && !IsWithin(root, real)) return false;
    }
    *host = current;
    return true;
}

struct FileFamily::Impl {
    mutable std::mutex lock;
    std::map<uint32_t, std::unique_ptr<OpenFile>> files;
    std::map<uint32_t, Search> searches;
    uint32_t nextHandle = 0x1000;
    // Attributes other than the default (archive for files), by the lower-case
    // path below the root.
    std::map<std::string, uint32_t> attributes;
    std::vector<SimProcess> processes;
    uint32_t nextProcessId = 0x400;
    std::map<uint32_t, uint32_t> counts;
    std::map<uint32_t, Handler> scripts;
    // system_clock minus the file clock, in whole seconds.
    std::chrono::seconds clockOffset{0};

    uint32_t NewHandle() {
        uint32_t h = nextHandle;
        nextHandle += 4;
        if (nextHandle >= 0xFFFFF000u) nextHandle = 0x1000;
        return h;
    }
};

FileFamily::FileFamily(DeviceState& device) : m_impl(new Impl) {
    std::error_code ec;
    std::string configured = device.Config().rootDir;
    fs::path root = configured.empty() ? MakeTemporaryRoot() : fs::u8path(configured);
    fs::create_directories(root, ec);
    m_root = fs::canonical(root, ec);
    if (ec) m_root = fs::absolute(root);
    if (configured.empty()) device.MutableConfig().rootDir = m_root.u8string();
    auto offset = std::chrono::system_clock::now().time_since_epoch() -
                  std::chrono::duration_cast<std::chrono::system_clock::duration>(
                      fs::file_time_type::clock::now().time_since_epoch());
    m_impl->clockOffset = std::chrono::round<std::chrono::seconds>(offset);
}

FileFamily::~FileFamily() = default;

void FileFamily::Script(uint32_t code, Handler handler) {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    if (handler)
        m_impl->scripts[code] = std::move(handler);
    else
        m_impl->scripts.erase(code);
}

uint32_t FileFamily::CommandCount(uint32_t code) const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    auto it = m_impl->counts.find(code);
    return it == m_impl->counts.end() ? 0 : it->second;
}

size_t FileFamily::OpenHandles() const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->files.size() + m_impl->searches.size();
}

std::vector<SimProcess> FileFamily::Processes() const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->processes;
}

// The handlers, with access to the family's inside.
struct FileServiceAccess {
    FileFamily& family;
    FileFamily::Impl& s;
    CommandContext& ctx;

    const fs::path& Root() const { return family.m_root; }

    bool Map(const std::u16string& devicePath, fs::path* host) const {
        return MapDevicePath(family.m_root, devicePath, host);
    }

    std::string Key(const fs::path& host) const {
        return LowerAscii(host.lexically_relative(family.m_root).generic_u8string());
    }

    uint32_t AttributesOf(const fs::path& host) const {
        std::error_code ec;
        fs::file_status st = fs::status(host, ec);
        if (ec || !fs::exists(st)) return kInvalidFileAttributes;
        auto it = s.attributes.find(Key(host));
        if (fs::is_directory(st))
            return it == s.attributes.end() ? kFileAttributeDirectory : (it->second | kFileAttributeDirectory);
        return it == s.attributes.end() ? kFileAttributeArchive : it->second;
    }

    bool ReadOnly(const fs::path& host) const {
        uint32_t a = AttributesOf(host);
        return a != kInvalidFileAttributes && (a & kFileAttributeReadOnly) != 0;
    }

    void SetAttributes(const fs::path& host, uint32_t attributes) {
        if (attributes == kFileAttributeArchive)
            s.attributes.erase(Key(host));
        else
            s.attributes[Key(host)] = attributes;
    }

    void MoveAttributes(const fs::path& from, const fs::path& to) {
        std::string fromKey = Key(from);
        std::string toKey = Key(to);
        std::map<std::string, uint32_t> moved;
        for (auto it = s.attributes.begin(); it != s.attributes.end();) {
            const std::string& k = it->first;
            if (k == fromKey || k.compare(0, fromKey.size() + 1, fromKey + "/") == 0) {
                moved[toKey + k.substr(fromKey.size())] = it->second;
                it = s.attributes.erase(it);
            } else {
                ++it;
            }
        }
        s.attributes.erase(toKey);
        for (auto& kv : moved) s.attributes[kv.first] = kv.second;
    }

    uint64_t FileTimeOf(const fs::path& host) const {
        std::error_code ec;
        fs::file_time_type t = fs::last_write_time(host, ec);
        if (ec) return 0;
        auto sinceUnix = std::chrono::duration_cast<std::chrono::system_clock::duration>(t.time_since_epoch()) +
                         s.clockOffset;
        int64_t units = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(sinceUnix)
                            .count() +
                        kFileTimeUnixEpoch;
        return units < 0 ? 0 : static_cast<uint64_t>(units);
    }

    FindEntry EntryOf(const fs::path& host) const {
        FindEntry e;
        std::error_code ec;
        e.attributes = AttributesOf(host);
        e.fileTime = FileTimeOf(host);
        if (fs::is_regular_file(host, ec)) {
            uintmax_t size = fs::file_size(host, ec);
            e.size = ec ? 0 : static_cast<uint64_t>(size);
        }
        e.name = ToUtf16(host.filename().u8string());
        if (ctx.Hostile() && e.name.size() < kHostileNameUnits) e.name.resize(kHostileNameUnits, u'x');
        return e;
    }

    OpenFile* FileOf(uint32_t handle) {
        auto it = s.files.find(handle);
        return it == s.files.end() ? nullptr : it->second.get();
    }

    // ---- the commands ----------------------------------------------------------

    void CreateFile() {
        ctx.request.u32();  // FileNameLength
        std::u16string name = ctx.request.wstr();
        uint32_t access = ctx.request.u32();
        ctx.request.u32();  // ShareMode
        uint32_t disposition = ctx.request.u32();
        uint32_t flags = ctx.request.u32();
        ctx.request.u32();  // TemplateFile
        if (!ctx.request.ok()) return;
        ctx.response.u32(Open(name, access, disposition, flags));
    }

    uint32_t Open(const std::u16string& name, uint32_t access, uint32_t disposition, uint32_t flags) {
        fs::path host;
        if (!Map(name, &host) || host == family.m_root) return kInvalidHandleValue;
        std::error_code ec;
        fs::file_status st = fs::status(host, ec);
        bool exists = fs::exists(st);
        if (exists && !fs::is_regular_file(st)) return kInvalidHandleValue;
        if (!fs::is_directory(host.parent_path(), ec)) return kInvalidHandleValue;
        bool wantWrite = (access & kGenericWrite) != 0;
        bool truncate = false;
        switch (disposition) {
            case kCreateNew:
                if (exists) return kInvalidHandleValue;
                break;
            case kCreateAlways:
                truncate = exists;
                break;
            case kOpenExisting:
                if (!exists) return kInvalidHandleValue;
                break;
            case kOpenAlways:
                break;
            case kTruncateExisting:
                if (!exists || !wantWrite) return kInvalidHandleValue;
                truncate = true;
                break;
            default:
                return kInvalidHandleValue;
        }
        if (exists && (wantWrite || truncate) && ReadOnly(host)) return kInvalidHandleValue;
        if (!exists) {
            std::ofstream create(host, std::ios::binary);
            if (!create) return kInvalidHandleValue;
            uint32_t attributes = (flags & (kFileAttributeReadOnly | kFileAttributeHidden | kFileAttributeSystem)) |
                                  kFileAttributeArchive;
            SetAttributes(host, attributes);
        } else if (truncate) {
            fs::resize_file(host, 0, ec);
            if (ec) return kInvalidHandleValue;
        }
        std::unique_ptr<OpenFile> file(new OpenFile);
        file->path = host;
        file->canRead = (access & kGenericRead) != 0;
        file->canWrite = wantWrite;
        file->stream.open(host, std::ios::in | std::ios::out | std::ios::binary);
        if (!file->stream.is_open()) {
            if (wantWrite) return kInvalidHandleValue;
            file->stream.open(host, std::ios::in | std::ios::binary);
            if (!file->stream.is_open()) return kInvalidHandleValue;
        }
        uint32_t handle = s.NewHandle();
        s.files[handle] = std::move(file);
        return handle;
    }

    void CloseHandle() {
        uint32_t handle = ctx.request.u32();
        if (!ctx.request.ok()) return;
        ctx.response.u8(s.files.erase(handle) != 0 ? 1 : 0);
    }

    void ReadFile() {
        uint32_t handle = ctx.request.u32();
        uint32_t toRead = ctx.request.u32();
        if (!ctx.request.ok()) return;
        OpenFile* file = FileOf(handle);
        if (!file || !file->canRead) {
            ctx.response.u8(0).u32(0).buf({});
            return;
        }
        std::vector<uint8_t> data(std::min(toRead, kMaxRead));
        file->stream.clear();
        file->stream.seekg(static_cast<std::streamoff>(file->position));
        file->stream.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
        data.resize(static_cast<size_t>(std::max<std::streamsize>(file->stream.gcount(), 0)));
        file->stream.clear();
        file->position += data.size();

        if (Take(family.failReads)) {
            ctx.response.u8(0).u32(0).buf({});
            return;
        }
        if (ctx.Hostile()) data.resize(static_cast<size_t>(std::min(toRead, kMaxRead)) + kHostileExtraBytes, 0xA5);
        uint32_t count = static_cast<uint32_t>(data.size());
        if (Take(family.mismatchReads)) ++count;
        ctx.response.u8(1).u32(count).buf(data);
    }

    void WriteFile() {
        uint32_t handle = ctx.request.u32();
        ctx.request.u32();  // BytesToWrite: the data carries its own length
        std::vector<uint8_t> data = ctx.request.buf();
        if (!ctx.request.ok()) return;
        OpenFile* file = FileOf(handle);
        if (!file || !file->canWrite) {
            ctx.response.u8(0).u32(0);
            return;
        }
        bool fail = Take(family.failWrites);
        if (fail) data.resize(data.size() / 2);
        bool ok = true;
        if (!data.empty()) {
            file->stream.clear();
            file->stream.seekp(static_cast<std::streamoff>(file->position));
            file->stream.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
            file->stream.flush();
            ok = static_cast<bool>(file->stream);
            file->stream.clear();
            if (ok) file->position += data.size();
        }
        if (fail || !ok) {
            ctx.response.u8(0).u32(0);
            return;
        }
        ctx.response.u8(1).u32(static_cast<uint32_t>(data.size()));
    }

    void DeleteFile() {
        ctx.request.u16();
        std::u16string name = ctx.request.wstr();
        if (!ctx.request.ok()) return;
        fs::path host;
        std::error_code ec;
        bool ok = Map(name, &host) && fs::is_regular_file(fs::symlink_status(host, ec)) && !ReadOnly(host);
        if (ok) ok = fs::remove(host, ec) && !ec;
        if (ok) s.attributes.erase(Key(host));
        ctx.response.u8(ok ? 1 : 0);
    }

    void FindFirstFile() {
        ctx.request.u16();
        std::u16string pattern = ctx.request.wstr();
        if (!ctx.request.ok()) return;
        // The directory part is a path; the last component is the pattern.
        size_t cut = pattern.find_last_of(u"\\/");
        std::u16string dir = cut == std::u16string::npos ? std::u16string() : pattern.substr(0, cut);
        std::u16string namePattern = cut == std::u16string::npos ? pattern : pattern.substr(cut + 1);
        if (namePattern == u"*.*") namePattern.assign(1, u'*');
        Search search;
        fs::path host;
        std::error_code ec;
        if (!namePattern.empty() && Map(dir, &host) && fs::is_directory(host, ec)) {
            for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
                std::u16string name = ToUtf16(it->path().filename().u8string());
                if (!WildcardMatch(namePattern, name)) continue;
                // Entries that lead out of the root are not shown.
                fs::path check;
                if (!MapDevicePath(family.m_root, ToUtf16(it->path().lexically_relative(family.m_root).u8string()),
                                   &check))
                    continue;
                search.entries.push_back(EntryOf(it->path()));
            }
        }
        std::sort(search.entries.begin(), search.entries.end(), [](const FindEntry& a, const FindEntry& b) {
            return LowerAscii(ToUtf8(a.name)) < LowerAscii(ToUtf8(b.name));
        });
        if (search.entries.empty()) {
            ctx.response.u32(kInvalidHandleValue);
            PutFindFields(ctx.response, FindEntry());
            return;
        }
        uint32_t handle = s.NewHandle();
        ctx.response.u32(handle);
        PutFindFields(ctx.response, search.entries[0]);
        search.next = 1;
        s.searches[handle] = std::move(search);
    }

    void FindNextFile() {
        uint32_t handle = ctx.request.u32();
        if (!ctx.request.ok()) return;
        auto it = s.searches.find(handle);
        if (it == s.searches.end() || it->second.next >= it->second.entries.size()) {
            ctx.response.u8(0);
            PutFindFields(ctx.response, FindEntry());
            return;
        }
        ctx.response.u8(1);
        PutFindFields(ctx.response, it->second.entries[it->second.next++]);
    }

    void FindClose() {
        uint32_t handle = ctx.request.u32();
        if (!ctx.request.ok()) return;
        ctx.response.u8(s.searches.erase(handle) != 0 ? 1 : 0);
    }

    void CreateDirectory() {
        ctx.request.u16();
        std::u16string name = ctx.request.wstr();
        if (!ctx.request.ok()) return;
        fs::path host;
        std::error_code ec;
        bool ok = Map(name, &host) && host != family.m_root && !fs::exists(fs::symlink_status(host, ec)) &&
                  fs::is_directory(host.parent_path(), ec);
        if (ok) ok = fs::create_directory(host, ec) && !ec;
        ctx.response.u8(ok ? 1 : 0);
    }

    void RemoveDirectory() {
        ctx.request.u16();
        std::u16string name = ctx.request.wstr();
        if (!ctx.request.ok()) return;
        fs::path host;
        std::error_code ec;
        bool ok = Map(name, &host) && host != family.m_root && fs::is_directory(fs::symlink_status(host, ec)) &&
                  fs::is_empty(host, ec) && !ReadOnly(host);
        if (ok) ok = fs::remove(host, ec) && !ec;
        if (ok) s.attributes.erase(Key(host));
        ctx.response.u8(ok ? 1 : 0);
    }

    void CreateProcess() {
        ctx.request.u16();
        std::u16string image = ctx.request.wstr();
        ctx.request.u16();
        std::u16string commandLine = ctx.request.wstr();
        uint32_t flags = ctx.request.u32();
        if (!ctx.request.ok()) return;
        if (image.empty()) {
            ctx.response.u8(0).u32(0).u32(0).u32(0).u32(0);
            return;
        }
        SimProcess p;
        p.imageName = image;
        p.commandLine = commandLine;
        p.creationFlags = flags;
        p.processHandle = s.NewHandle();
        p.threadHandle = s.NewHandle();
        p.processId = s.nextProcessId;
        p.threadId = s.nextProcessId + 4;
        s.nextProcessId += 8;
        s.processes.push_back(p);
        ctx.response.u8(1).u32(p.processHandle).u32(p.threadHandle).u32(p.processId).u32(p.threadId);
    }

    void GetDiskFreeSpace() {
        std::u16string name = ctx.request.wstr();
        if (!ctx.request.ok()) return;
        fs::path host;
        std::error_code ec;
        bool ok = Map(name, &host) && fs::is_directory(host, ec);
        fs::space_info info{};
        if (ok) {
            info = fs::space(family.m_root, ec);
            ok = !ec;
        }
        if (!ok) {
            ctx.response.u32(0).u64(0).u64(0).u64(0);
            return;
        }
        ctx.response.u32(1).u64(info.available).u64(info.capacity).u64(info.free);
    }

    void SetFilePointer() {
        uint32_t handle = ctx.request.u32();
        uint32_t low = ctx.request.u32();
        uint32_t high = ctx.request.u32();
        uint32_t method = ctx.request.u32();
        if (!ctx.request.ok()) return;
        OpenFile* file = FileOf(handle);
        int64_t distance = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
        int64_t base = -1;
        if (file) {
            std::error_code ec;
            switch (method) {
                case 0:
                    base = 0;
                    break;
                case 1:
                    base = static_cast<int64_t>(file->position);
                    break;
                case 2: {
                    uintmax_t size = fs::file_size(file->path, ec);
                    base = ec ? -1 : static_cast<int64_t>(size);
                    break;
                }
                default:
                    break;
            }
        }
        int64_t target = base < 0 ? -1 : base + distance;
        if (target < 0) {
            ctx.response.u32(kInvalidSetFilePointer).u32(kInvalidSetFilePointer);
            return;
        }
        file->position = static_cast<uint64_t>(target);
        ctx.response.u32(static_cast<uint32_t>(file->position)).u32(static_cast<uint32_t>(file->position >> 32));
    }

    void GetFileAttributes() {
        std::u16string name = ctx.request.wstr();
        ctx.request.u32();
        if (!ctx.request.ok()) return;
        fs::path host;
        ctx.response.u32(Map(name, &host) ? AttributesOf(host) : kInvalidFileAttributes);
    }

    void SetFileAttributes() {
        std::u16string name = ctx.request.wstr();
        ctx.request.u32();
        uint32_t attributes = ctx.request.u32();
        if (!ctx.request.ok()) return;
        fs::path host;
        std::error_code ec;
        if (!Map(name, &host) || host == family.m_root || !fs::exists(host, ec)) {
            ctx.response.u32(0);
            return;
        }
        attributes &= kSettableAttributes;
        if (attributes & ~kFileAttributeNormal) attributes &= ~kFileAttributeNormal;
        if (fs::is_directory(host, ec)) {
            attributes &= ~kFileAttributeNormal;
            if (attributes == 0)
                s.attributes.erase(Key(host));
            else
                s.attributes[Key(host)] = attributes;
        } else {
            SetAttributes(host, attributes == 0 ? kFileAttributeNormal : attributes);
        }
        ctx.response.u32(1);
    }

    void CopyFile() {
        std::u16string from = ctx.request.wstr();
        ctx.request.u32();
        std::u16string to = ctx.request.wstr();
        ctx.request.u32();
        uint32_t failIfExists = ctx.request.u32();
        if (!ctx.request.ok()) return;
        fs::path src, dst;
        std::error_code ec;
        bool ok = Map(from, &src) && Map(to, &dst) && fs::is_regular_file(src, ec) && src != dst &&
                  fs::is_directory(dst.parent_path(), ec);
        if (ok && fs::exists(dst, ec)) {
            ok = failIfExists == 0 && fs::is_regular_file(dst, ec) && !ReadOnly(dst);
            // The old file goes first: MinGW's copy_file refuses to overwrite
            // even with overwrite_existing.
            if (ok) ok = fs::remove(dst, ec) && !ec;
        }
        if (ok) ok = fs::copy_file(src, dst, ec) && !ec;
        if (ok) SetAttributes(dst, AttributesOf(src) | kFileAttributeArchive);
        ctx.response.u32(ok ? 1 : 0);
    }

    void MoveFile() {
        std::u16string from = ctx.request.wstr();
        ctx.request.u32();
        std::u16string to = ctx.request.wstr();
        ctx.request.u32();
        if (!ctx.request.ok()) return;
        fs::path src, dst;
        std::error_code ec;
        bool ok = Map(from, &src) && Map(to, &dst) && src != family.m_root && fs::exists(src, ec) &&
                  !fs::exists(fs::symlink_status(dst, ec)) && fs::is_directory(dst.parent_path(), ec) &&
                  !IsWithin(src, dst);
        if (ok) {
            fs::rename(src, dst, ec);
            ok = !ec;
        }
        if (ok) MoveAttributes(src, dst);
        ctx.response.u32(ok ? 1 : 0);
    }

    static bool Take(std::atomic<uint32_t>& counter) {
        uint32_t n = counter.load();
        while (n != 0) {
            if (counter.compare_exchange_weak(n, n - 1)) return true;
        }
        return false;
    }

    // Runs one command: counts it, then runs the script set for its code or
    // the real handler, under the family's lock.
    static void Run(CommandContext& ctx, uint32_t code, void (FileServiceAccess::*handler)()) {
        FileFamily& family = ctx.Family<FileFamily>();
        FileFamily::Impl& impl = *family.m_impl;
        Handler script;
        {
            std::lock_guard<std::mutex> guard(impl.lock);
            ++impl.counts[code];
            auto it = impl.scripts.find(code);
            if (it != impl.scripts.end()) script = it->second;
        }
        if (script) {
            script(ctx);
            return;
        }
        std::lock_guard<std::mutex> guard(impl.lock);
        FileServiceAccess access{family, impl, ctx};
        (access.*handler)();
    }
};

void RegisterFileServices(ServiceTable& table) {
    struct Entry {
        uint32_t code;
        void (FileServiceAccess::*handler)();
    };
    static const Entry kEntries[] = {
        {kCodeCreateFile, &FileServiceAccess::CreateFile},
        {kCodeCloseHandle, &FileServiceAccess::CloseHandle},
        {kCodeReadFile, &FileServiceAccess::ReadFile},
        {kCodeWriteFile, &FileServiceAccess::WriteFile},
        {kCodeDeleteFile, &FileServiceAccess::DeleteFile},
        {kCodeFindFirstFile, &FileServiceAccess::FindFirstFile},
        {kCodeFindNextFile, &FileServiceAccess::FindNextFile},
        {kCodeFindClose, &FileServiceAccess::FindClose},
        {kCodeCreateDirectory, &FileServiceAccess::CreateDirectory},
        {kCodeRemoveDirectory, &FileServiceAccess::RemoveDirectory},
        {kCodeCreateProcess, &FileServiceAccess::CreateProcess},
        {kCodeGetDiskFreeSpace, &FileServiceAccess::GetDiskFreeSpace},
        {kCodeSetFilePointer, &FileServiceAccess::SetFilePointer},
        {kCodeGetFileAttributes, &FileServiceAccess::GetFileAttributes},
        {kCodeSetFileAttributes, &FileServiceAccess::SetFileAttributes},
        {kCodeCopyFile, &FileServiceAccess::CopyFile},
        {kCodeMoveFile, &FileServiceAccess::MoveFile},
    };
    for (const Entry& e : kEntries) {
        uint32_t code = e.code;
        auto handler = e.handler;
        table.Register(code, [code, handler](CommandContext& ctx) { FileServiceAccess::Run(ctx, code, handler); });
    }
}

}  // namespace sim
