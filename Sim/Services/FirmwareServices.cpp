// Firmware reception of the simulated device.
#include "Sim/Services/FirmwareServices.h"

#include <fstream>
#include <map>
#include <system_error>

#include "Sim/Core/DeviceState.h"
#include "Sim/Services/FileServices.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr uint32_t kCodeVupCreateFile = 16;
constexpr uint32_t kCodeVupTransmitData = 17;
constexpr uint32_t kCodeVupGetFileInfo = 18;
constexpr uint32_t kCodeVupWriteFile = 19;
constexpr uint32_t kCodeVupFileFree = 20;

// The largest image the device has room for.
constexpr uint32_t kMaxImage = 64u << 20;

uint8_t Sum8(const std::vector<uint8_t>& data) {
    uint8_t sum = 0;
    for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
    return sum;
}

bool TakeOne(std::atomic<uint32_t>& counter) {
    uint32_t n = counter.load();
    while (n != 0) {
        if (counter.compare_exchange_weak(n, n - 1)) return true;
    }
    return false;
}

}  // namespace

struct FirmwareFamily::Impl {
    mutable std::mutex lock;
    Snapshot file;
    std::map<uint32_t, uint32_t> counts;
    std::map<uint32_t, Handler> scripts;
};

FirmwareFamily::FirmwareFamily(DeviceState&) : m_impl(new Impl) {}
FirmwareFamily::~FirmwareFamily() = default;

void FirmwareFamily::Script(uint32_t code, Handler handler) {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    if (handler)
        m_impl->scripts[code] = std::move(handler);
    else
        m_impl->scripts.erase(code);
}

uint32_t FirmwareFamily::CommandCount(uint32_t code) const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    auto it = m_impl->counts.find(code);
    return it == m_impl->counts.end() ? 0 : it->second;
}

FirmwareFamily::Snapshot FirmwareFamily::Current() const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->file;
}

struct FirmwareServiceAccess {
    FirmwareFamily& family;
    FirmwareFamily::Impl& s;
    CommandContext& ctx;
    fs::path root;

    void CreateFile() {
        ctx.request.u16();  // NameLength
        std::u16string name = ctx.request.wstr();
        uint32_t size = ctx.request.u32();
        if (!ctx.request.ok()) return;
        fs::path host;
        if (name.empty() || !MapDevicePath(root, name, &host) || host == root) {
            ctx.response.u32(kVupBadName);
            return;
        }
        if (size > kMaxImage) {
            ctx.response.u32(kVupTooLarge);
            return;
        }
        std::string stored = s.file.storedPath;
        s.file = FirmwareFamily::Snapshot();
        s.file.storedPath = stored;
        s.file.active = true;
        s.file.name = name;
        s.file.announcedSize = size;
        s.file.state = size == 0 ? kVupStateComplete : kVupStateReceiving;
        ctx.response.u32(0);
    }

    void TransmitData() {
        uint32_t length = ctx.request.u32();
        std::vector<uint8_t> data = ctx.request.buf();
        if (!ctx.request.ok()) return;
        if (!s.file.active) {
            ctx.response.u32(kVupNoFile);
            return;
        }
        if (length != data.size()) {
            ctx.response.u32(kVupBadLength);
            return;
        }
        if (s.file.data.size() + data.size() > s.file.announcedSize) {
            ctx.response.u32(kVupOverflow);
            return;
        }
        bool lose = TakeOne(family.failTransmits);
        if (lose) data.resize(data.size() / 2);
        s.file.data.insert(s.file.data.end(), data.begin(), data.end());
        s.file.state = s.file.data.size() == s.file.announcedSize ? kVupStateComplete : kVupStateReceiving;
        ctx.response.u32(lose ? kVupChunkLost : 0);
    }

    void GetFileInfo() {
        if (!s.file.active) {
            ctx.response.u32(kVupNoFile).u16(0).wstr(std::u16string()).u32(0).u32(0).u8(0).u8(kVupStateNone);
            return;
        }
        uint8_t checksum = Sum8(s.file.data);
        if (TakeOne(family.corruptChecksum)) checksum = static_cast<uint8_t>(checksum + 1);
        const std::u16string& name = s.file.name;
        // A hostile device claims a name far longer than it sends.
        bool hostile = ctx.Hostile();
        ctx.response.u32(0)
            .u16(hostile ? 0xFFFF : static_cast<uint16_t>((name.size() + 1) * 2))
            .wstr(name)
            .u32(s.file.announcedSize)
            .u32(static_cast<uint32_t>(s.file.data.size()))
            .u8(checksum)
            .u8(s.file.state);
    }

    void WriteFile() {
        uint32_t param1 = ctx.request.u32();
        uint32_t param2 = ctx.request.u32();
        if (!ctx.request.ok()) return;
        if (!s.file.active) {
            ctx.response.u32(kVupNoFile);
            return;
        }
        s.file.lastParam1 = param1;
        s.file.lastParam2 = param2;
        if (s.file.data.size() != s.file.announcedSize) {
            ctx.response.u32(kVupIncomplete);
            return;
        }
        fs::path host;
        std::error_code ec;
        if (!MapDevicePath(root, s.file.name, &host)) {
            ctx.response.u32(kVupBadName);
            return;
        }
        fs::create_directories(host.parent_path(), ec);
        // The folders just made must not have led out of the root either.
        fs::path check;
        if (!MapDevicePath(root, s.file.name, &check) || check != host) {
            ctx.response.u32(kVupBadName);
            return;
        }
        std::ofstream out(host, std::ios::binary | std::ios::trunc);
        if (out && !s.file.data.empty())
            out.write(reinterpret_cast<const char*>(s.file.data.data()),
                      static_cast<std::streamsize>(s.file.data.size()));
        out.close();
        if (!out) {
            ctx.response.u32(kVupStoreFailed);
            return;
        }
        s.file.state = kVupStateWritten;
        s.file.storedPath = host.u8string();
        ctx.response.u32(0);
    }

    void FileFree() {
        if (!s.file.active) {
            ctx.response.u32(kVupNoFile);
            return;
        }
        std::string stored = s.file.storedPath;
        s.file = FirmwareFamily::Snapshot();
        s.file.storedPath = stored;
        ctx.response.u32(0);
    }

    static void Run(CommandContext& ctx, uint32_t code, void (FirmwareServiceAccess::*handler)()) {
        FirmwareFamily& family = ctx.Family<FirmwareFamily>();
        // The image goes below the file system's root.
        fs::path root = ctx.Family<FileFamily>().Root();
        FirmwareFamily::Impl& impl = *family.m_impl;
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
        FirmwareServiceAccess access{family, impl, ctx, root};
        (access.*handler)();
    }
};

void RegisterFirmwareServices(ServiceTable& table) {
    struct Entry {
        uint32_t code;
        void (FirmwareServiceAccess::*handler)();
    };
    static const Entry kEntries[] = {
        {kCodeVupCreateFile, &FirmwareServiceAccess::CreateFile},
        {kCodeVupTransmitData, &FirmwareServiceAccess::TransmitData},
        {kCodeVupGetFileInfo, &FirmwareServiceAccess::GetFileInfo},
        {kCodeVupWriteFile, &FirmwareServiceAccess::WriteFile},
        {kCodeVupFileFree, &FirmwareServiceAccess::FileFree},
    };
    for (const Entry& e : kEntries) {
        uint32_t code = e.code;
        auto handler = e.handler;
        table.Register(code,
                       [code, handler](CommandContext& ctx) { FirmwareServiceAccess::Run(ctx, code, handler); });
    }
}

}  // namespace sim
