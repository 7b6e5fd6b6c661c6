// The file commands: ls, get, put, rm, mkdir, rmdir, cp, mv, stat, df.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "Tools/Cli.h"
#include "Tools/Text.h"
#include "vantro/vantro.h"

namespace fs = std::filesystem;

namespace cli {

namespace {

constexpr uint32_t kInvalid = 0xFFFFFFFFu;
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kErrorFileNotFound = 2;

struct Entry {
    std::string name;
    uint32_t attributes = 0;
    uint64_t size = 0;
    std::string created, modified;
};

Entry FromFindData(const VFIND_DATAW& d) {
    Entry e;
    e.name = ToUtf8(d.cFileName, 260);
    e.attributes = d.dwFileAttributes;
    e.size = (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    e.created = FileTimeText(d.ftCreationTime.dwLowDateTime, d.ftCreationTime.dwHighDateTime);
    e.modified = FileTimeText(d.ftLastWriteTime.dwLowDateTime, d.ftLastWriteTime.dwHighDateTime);
    return e;
}

std::string AttributeLetters(uint32_t a) {
    std::string s = "-----";
    if (a & kAttrDirectory) s[0] = 'd';
    if (a & kAttrReadOnly) s[1] = 'r';
    if (a & kAttrHidden) s[2] = 'h';
    if (a & kAttrSystem) s[3] = 's';
    if (a & kAttrArchive) s[4] = 'a';
    return s;
}

Json EntryJson(const Entry& e) {
    Json j = Json::Object();
    j.Set("name", e.name);
    j.Set("directory", (e.attributes & kAttrDirectory) != 0);
    j.Set("size", e.size);
    j.Set("attributes", e.attributes);
    j.Set("created", e.created);
    j.Set("modified", e.modified);
    return j;
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

std::string JoinDevice(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '\\') return dir + name;
    return dir + "\\" + name;
}

// The attributes of a device path: kInvalid with *failure set when the
// exchange failed or the path does not exist.
uint32_t Attributes(Context& ctx, const std::string& path, Failure* failure) {
    const uint64_t mark = ctx.reports.Mark();
    const uint32_t a = KovGetFileAttributes(ToWide(path).c_str());
    if (a != kInvalid) return a;
    uint32_t code = 0;
    if (ctx.reports.LastSince(mark, &code))
        *failure = ResultFailure(code, "cannot read the attributes of " + path);
    else
        *failure = DeviceErrorFailure(kErrorFileNotFound, "cannot find " + path);
    return kInvalid;
}

// One file's find data (its size and times); false with *failure.
bool FindOne(Context& ctx, const std::string& path, Entry* out, Failure* failure) {
    VFIND_DATAW data;
    std::memset(&data, 0, sizeof data);
    const uint64_t mark = ctx.reports.Mark();
    const uint32_t handle = KovFindFirstFile(ToWide(path).c_str(), &data);
    if (handle == 0 || handle == kInvalid) {
        uint32_t code = 0;
        if (ctx.reports.LastSince(mark, &code))
            *failure = ResultFailure(code, "cannot look up " + path);
        else
            *failure = DeviceErrorFailure(kErrorFileNotFound, "cannot find " + path);
        return false;
    }
    KovFindClose(handle);
    *out = FromFindData(data);
    return true;
}

Json ProgressJson(const ProgressBar& bar) {
    Json j = Json::Object();
    j.Set("calls", bar.Calls());
    j.Set("done", bar.Done());
    j.Set("total", bar.Total());
    return j;
}

std::string RateText(uint64_t bytes, double seconds) {
    return HumanBytes(bytes) + " in " + std::to_string(static_cast<int>(seconds * 1000)) + " ms (" +
           HumanBytes(seconds > 0 ? static_cast<uint64_t>(bytes / seconds) : 0) + "/s)";
}

int Ls(Context& ctx, const ParsedArgs& p) {
    if (p.positional.size() > 1) return ctx.out.Usage("ls takes one path or pattern");
    const std::string path = DevicePath(p.positional.empty() ? "\\" : p.positional[0]);
    std::string pattern = path;
    bool folder = false;
    if (!HasWildcard(path)) {
        Failure failure;
        const uint32_t a = path == "\\" ? kAttrDirectory : Attributes(ctx, path, &failure);
        if (a == kInvalid) return ctx.out.Fail(failure);
        if (a & kAttrDirectory) {
            folder = true;
            pattern = JoinDevice(path, "*");
        }
    }

    uint32_t count = 0;
    VFIND_DATAW* list = nullptr;
    const uint64_t mark = ctx.reports.Mark();
    std::vector<Entry> entries;
    if (KovDir(ToWide(pattern).c_str(), &count, &list) == 1) {
        for (uint32_t i = 0; i < count; ++i) entries.push_back(FromFindData(list[i]));
        KovDirFree();
    } else {
        uint32_t code = 0;
        if (ctx.reports.LastSince(mark, &code)) return ctx.out.Fail(ResultFailure(code, "cannot list " + pattern));
        if (!folder) return ctx.out.Fail(DeviceErrorFailure(kErrorFileNotFound, "nothing matches " + pattern));
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const Entry& e) { return e.name == "." || e.name == ".."; }),
                  entries.end());
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const bool da = (a.attributes & kAttrDirectory) != 0, db = (b.attributes & kAttrDirectory) != 0;
        if (da != db) return da;
        return LowerAscii(a.name) < LowerAscii(b.name);
    });

    uint64_t bytes = 0;
    size_t folders = 0;
    for (const Entry& e : entries) {
        if (e.attributes & kAttrDirectory)
            ++folders;
        else
            bytes += e.size;
    }
    if (ctx.out.IsJson()) {
        Json j = Json::Object();
        j.Set("path", path);
        j.Set("pattern", pattern);
        Json list = Json::Array();
        for (const Entry& e : entries) list.Push(EntryJson(e));
        j.Set("entries", list);
        j.Set("files", entries.size() - folders);
        j.Set("folders", folders);
        j.Set("bytes", bytes);
        return ctx.out.Done(j);
    }
    ctx.out.Line(pattern + ":");
    for (const Entry& e : entries) {
        const bool dir = (e.attributes & kAttrDirectory) != 0;
        ctx.out.Line(AttributeLetters(e.attributes) + "  " + PadLeft(e.modified.empty() ? "-" : e.modified, 19) + "  " +
                     PadLeft(dir ? "<DIR>" : std::to_string(e.size), 10) + "  " + e.name + (dir ? "\\" : ""));
    }
    ctx.out.Line(std::to_string(entries.size() - folders) + " file(s), " + std::to_string(folders) +
                 " folder(s), " + std::to_string(bytes) + " bytes (" + HumanBytes(bytes) + ")");
    return kExitOk;
}

int Get(Context& ctx, const ParsedArgs& p) {
    if (p.positional.empty() || p.positional.size() > 2) return ctx.out.Usage("get DEVICE_FILE [PC_FILE]");
    const std::string device = DevicePath(p.positional[0]);
    std::string pc = p.positional.size() > 1 ? p.positional[1] : BaseName(device);
    std::error_code ec;
    if (fs::is_directory(pc, ec)) pc = (fs::path(pc) / BaseName(device)).string();

    Entry entry;
    Failure failure;
    if (!FindOne(ctx, device, &entry, &failure)) return ctx.out.Fail(failure);
    if (entry.attributes & kAttrDirectory) return ctx.out.Usage(device + " is a folder");
    {
        std::ofstream probe(pc, std::ios::binary | std::ios::app);
        if (!probe) return ctx.out.Fail(LocalFailure("cannot write the PC file " + pc));
    }

    ProgressBar bar(ctx.out.Err(), "get " + BaseName(device), entry.size, ctx.progress);
    const uint64_t mark = ctx.reports.Mark();
    uint32_t ok;
    {
        TransferProgressScope scope(bar);
        ok = KovGetFile(ToWide(device).c_str(), pc.c_str());
    }
    bar.Finish(ok == 1);
    if (ok != 1) return ctx.out.Fail(ctx.CallFailure(mark, "cannot copy " + device + " to " + pc));
    const uint64_t size = fs::file_size(pc, ec);
    if (ctx.out.IsJson()) {
        Json j = Json::Object();
        j.Set("device", device);
        j.Set("pc", pc);
        j.Set("bytes", size);
        j.Set("seconds", bar.Seconds());
        j.Set("progress", ProgressJson(bar));
        return ctx.out.Done(j);
    }
    ctx.out.Line(device + " -> " + pc + ": " + RateText(size, bar.Seconds()));
    return kExitOk;
}

int Put(Context& ctx, const ParsedArgs& p) {
    if (p.positional.empty() || p.positional.size() > 2) return ctx.out.Usage("put PC_FILE [DEVICE_FILE]");
    const std::string pc = p.positional[0];
    std::error_code ec;
    if (!fs::is_regular_file(pc, ec)) return ctx.out.Fail(LocalFailure("no PC file " + pc));
    {
        std::ifstream probe(pc, std::ios::binary);
        if (!probe) return ctx.out.Fail(LocalFailure("cannot read the PC file " + pc));
    }
    const uint64_t size = fs::file_size(pc, ec);
    std::string device = p.positional.size() > 1 ? DevicePath(p.positional[1]) : "\\" + BaseName(pc);
    if (device.back() == '\\') {
        device += BaseName(pc);
    } else if (p.positional.size() > 1 && !HasWildcard(device)) {
        const uint64_t mark = ctx.reports.Mark();
        const uint32_t a = KovGetFileAttributes(ToWide(device).c_str());
        uint32_t code = 0;
        if (a == kInvalid && ctx.reports.LastSince(mark, &code))
            return ctx.out.Fail(ResultFailure(code, "cannot reach the device"));
        if (a != kInvalid && (a & kAttrDirectory)) device = JoinDevice(device, BaseName(pc));
    }

    ProgressBar bar(ctx.out.Err(), "put " + BaseName(pc), size, ctx.progress);
    const uint64_t mark = ctx.reports.Mark();
    uint32_t ok;
    {
        TransferProgressScope scope(bar);
        ok = KovPutFile(pc.c_str(), ToWide(device).c_str());
    }
    bar.Finish(ok == 1);
    if (ok != 1) return ctx.out.Fail(ctx.CallFailure(mark, "cannot copy " + pc + " to " + device));
    if (ctx.out.IsJson()) {
        Json j = Json::Object();
        j.Set("pc", pc);
        j.Set("device", device);
        j.Set("bytes", size);
        j.Set("seconds", bar.Seconds());
        j.Set("progress", ProgressJson(bar));
        return ctx.out.Done(j);
    }
    ctx.out.Line(pc + " -> " + device + ": " + RateText(size, bar.Seconds()));
    return kExitOk;
}

// A path operation the device said no to without a reason: a missing path
// is the likeliest one, and is told as such.
Failure PathFailure(Context& ctx, uint64_t mark, const std::string& path, const std::string& what) {
    Failure f = ctx.CallFailure(mark, what);
    if (f.exitCode == kExitDevice && !f.hasCode && KovGetFileAttributes(ToWide(path).c_str()) == kInvalid)
        f = DeviceErrorFailure(kErrorFileNotFound, what);
    return f;
}

// rm, mkdir, rmdir: one yes/no call per path.
int PerPath(Context& ctx, const ParsedArgs& p, const std::string& verb, uint32_t (*call)(const std::string&)) {
    if (p.positional.empty()) return ctx.out.Usage(verb + " needs a path");
    Json done = Json::Array();
    for (const std::string& arg : p.positional) {
        const std::string path = DevicePath(arg);
        const uint64_t mark = ctx.reports.Mark();
        if (call(path) == 0) {
            const std::string what = "cannot " + verb + " " + path;
            return ctx.out.Fail(verb == "create" ? ctx.CallFailure(mark, what) : PathFailure(ctx, mark, path, what));
        }
        done.Push(path);
        ctx.out.Line(verb + " " + path);
    }
    Json j = Json::Object();
    j.Set("done", done);
    return ctx.out.Done(j);
}

uint32_t DeletePath(const std::string& path) { return KovDeleteFile(ToWide(path).c_str()); }
uint32_t MakeDirectory(const std::string& path) { return KovCreateDirectory(ToWide(path).c_str(), nullptr); }
uint32_t RemoveDirectory(const std::string& path) { return KovRemoveDirectory(ToWide(path).c_str()); }

int CopyOrMove(Context& ctx, const ParsedArgs& p, bool move) {
    if (p.positional.size() != 2) return ctx.out.Usage(move ? "mv SRC DST" : "cp SRC DST [--no-clobber]");
    const std::string from = DevicePath(p.positional[0]);
    std::string to = DevicePath(p.positional[1]);
    // Into a folder: under the same name, as cp and mv do.
    if (to.back() == '\\') {
        to += BaseName(from);
    } else {
        const uint32_t a = KovGetFileAttributes(ToWide(to).c_str());
        if (a != kInvalid && (a & kAttrDirectory)) to = JoinDevice(to, BaseName(from));
    }
    const uint64_t mark = ctx.reports.Mark();
    const uint32_t ok = move ? KovMoveFile(ToWide(from).c_str(), ToWide(to).c_str())
                             : KovCopyFile(ToWide(from).c_str(), ToWide(to).c_str(), p.Has("--no-clobber") ? 1 : 0);
    if (ok == 0)
        return ctx.out.Fail(
            PathFailure(ctx, mark, from, std::string(move ? "cannot move " : "cannot copy ") + from + " to " + to));
    ctx.out.Line(from + (move ? " moved to " : " copied to ") + to);
    Json j = Json::Object();
    j.Set("from", from);
    j.Set("to", to);
    return ctx.out.Done(j);
}

int Stat(Context& ctx, const ParsedArgs& p) {
    if (p.positional.size() != 1) return ctx.out.Usage("stat PATH");
    const std::string path = DevicePath(p.positional[0]);
    Failure failure;
    const uint32_t a = Attributes(ctx, path, &failure);
    if (a == kInvalid) return ctx.out.Fail(failure);
    Entry entry;
    entry.name = BaseName(path);
    entry.attributes = a;
    if (path != "\\") {
        Entry found;
        if (FindOne(ctx, path, &found, &failure)) entry = found;
    }
    entry.attributes = a;
    if (ctx.out.IsJson()) {
        Json j = EntryJson(entry);
        j.Set("path", path);
        return ctx.out.Done(j);
    }
    const bool dir = (a & kAttrDirectory) != 0;
    ctx.out.Line("Path        " + path);
    ctx.out.Line("Type        " + std::string(dir ? "folder" : "file"));
    ctx.out.Line("Attributes  " + AttributeLetters(a) + " (" + Hex32(a) + ")");
    if (!dir) ctx.out.Line("Size        " + std::to_string(entry.size) + " bytes (" + HumanBytes(entry.size) + ")");
    if (!entry.created.empty()) ctx.out.Line("Created     " + entry.created + " UTC");
    if (!entry.modified.empty()) ctx.out.Line("Modified    " + entry.modified + " UTC");
    return kExitOk;
}

int Df(Context& ctx, const ParsedArgs& p) {
    if (p.positional.size() > 1) return ctx.out.Usage("df [PATH]");
    const std::string path = DevicePath(p.positional.empty() ? "\\" : p.positional[0]);
    uint64_t available = 0, total = 0, free = 0;
    const uint64_t mark = ctx.reports.Mark();
    if (KovGetDiskFreeSpace(ToWide(path).c_str(), &available, &total, &free) != 1)
        return ctx.out.Fail(ctx.CallFailure(mark, "cannot read the free space of " + path));
    if (ctx.out.IsJson()) {
        Json j = Json::Object();
        j.Set("path", path);
        j.Set("available", available);
        j.Set("total", total);
        j.Set("free", free);
        return ctx.out.Done(j);
    }
    const double used = total ? 100.0 * static_cast<double>(total - free) / static_cast<double>(total) : 0.0;
    char pct[16];
    std::snprintf(pct, sizeof pct, "%.0f%%", used);
    ctx.out.Line(path + ": " + HumanBytes(available) + " available of " + HumanBytes(total) + " (" + pct + " used)");
    return kExitOk;
}

}  // namespace

bool IsFilesCommand(const std::string& name) {
    static const char* const kNames[] = {"ls", "get", "put", "rm", "mkdir", "rmdir", "cp", "mv", "stat", "df"};
    for (const char* n : kNames)
        if (name == n) return true;
    return false;
}

int CmdFiles(Context& ctx, const std::string& name, const std::vector<std::string>& args) {
    ArgSpec shape;
    if (name == "cp") shape.flags.insert("--no-clobber");
    ParsedArgs p;
    std::string error;
    if (!ParseArgs(args, shape, &p, &error)) return ctx.out.Usage(error);
    if (name == "ls") return Ls(ctx, p);
    if (name == "get") return Get(ctx, p);
    if (name == "put") return Put(ctx, p);
    if (name == "rm") return PerPath(ctx, p, "delete", DeletePath);
    if (name == "mkdir") return PerPath(ctx, p, "create", MakeDirectory);
    if (name == "rmdir") return PerPath(ctx, p, "remove", RemoveDirectory);
    if (name == "cp") return CopyOrMove(ctx, p, false);
    if (name == "mv") return CopyOrMove(ctx, p, true);
    if (name == "stat") return Stat(ctx, p);
    return Df(ctx, p);
}

}  // namespace cli
