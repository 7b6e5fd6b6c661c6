#include "Bench/Floor/FloorCommands.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace floorc {
namespace {

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kShareRead = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kInvalidHandle = 0xFFFFFFFFu;

bool ReadAll(int fd, uint8_t* data, size_t size, size_t* got) {
    *got = 0;
    while (*got < size) {
        const ssize_t n = read(fd, data + *got, size - *got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        *got += static_cast<size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

bool Commands::Fail(const std::string& why) {
    m_error = why;
    return false;
}

bool Commands::Run(const Bytes& request, In* record) {
    ++m_exchanges;
    if (!m_client.Exchange(request, &m_response)) return Fail(m_client.Error());
    *record = In(m_response);
    record->code();
    const uint8_t status = record->u8();
    if (!record->ok()) return Fail("short answer");
    if (status != 6) return Fail("refused");
    return true;
}

bool Commands::GetMode(uint32_t* mode) {
    In r(nullptr, 0);
    if (!Run(Out().code(1).take(), &r)) return false;
    *mode = r.u32();
    return r.ok() || Fail("short GetMode answer");
}

uint32_t Commands::CreateFile(const std::u16string& name, uint32_t access, uint32_t share, uint32_t disposition) {
    Out o;
    o.code(0x21).u32(WireLength(name) & 0xFFFF).wstring(name).u32(access).u32(share).u32(disposition);
    o.u32(kAttributeNormal).u32(0);
    In r(nullptr, 0);
    if (!Run(o.bytes(), &r)) return 0;
    const uint32_t handle = r.u32();
    return r.ok() ? handle : 0;
}

bool Commands::CloseHandle(uint32_t handle) {
    In r(nullptr, 0);
    if (!Run(Out().code(0x22).u32(handle).take(), &r)) return false;
    return r.u8() != 0 && r.ok();
}

bool Commands::ReadFile(uint32_t handle, uint32_t size, Bytes* data) {
    In r(nullptr, 0);
    if (!Run(Out().code(0x23).u32(handle).u32(size).take(), &r)) return false;
    const uint8_t result = r.u8();
    const uint32_t count = r.u32();
    uint32_t length = 0;
    const uint8_t* bytes = r.buffer(&length);
    if (!r.ok() || result == 0 || count != length || length > size) return Fail("ReadFile failed");
    data->insert(data->end(), bytes, bytes + length);
    return true;
}

bool Commands::WriteFile(uint32_t handle, const uint8_t* data, uint32_t size) {
    Out o;
    o.code(0x24).u32(handle).u32(size).buffer(data, size);
    In r(nullptr, 0);
    if (!Run(o.bytes(), &r)) return false;
    const uint8_t result = r.u8();
    r.u32();
    return (r.ok() && result != 0) || Fail("WriteFile failed");
}

bool Commands::VupCreateFile(const std::u16string& name, uint32_t size) {
    Out o;
    o.code(0x10).u16(static_cast<uint16_t>(WireLength(name))).wstring(name).u32(size);
    In r(nullptr, 0);
    if (!Run(o.bytes(), &r)) return false;
    return (r.u32() == 0 && r.ok()) || Fail("VupCreateFile refused");
}

bool Commands::VupTransmitData(const uint8_t* data, uint32_t size) {
    Out o;
    o.code(0x11).u32(size).buffer(data, size);
    In r(nullptr, 0);
    if (!Run(o.bytes(), &r)) return false;
    return (r.u32() == 0 && r.ok()) || Fail("VupTransmitData refused");
}

bool Commands::VupGetFileInfo(uint32_t* received, uint8_t* checksum) {
    In r(nullptr, 0);
    if (!Run(Out().code(0x12).take(), &r)) return false;
    const uint32_t result = r.u32();
    r.u16();
    uint32_t nameLength = 0;
    r.buffer(&nameLength);
    r.u32();  // info 1
    *received = r.u32();
    *checksum = r.u8();
    r.u8();  // info 2
    return (r.ok() && result == 0) || Fail("VupGetFileInfo failed");
}

bool Commands::VupWriteFile(uint32_t param1, uint32_t param2) {
    In r(nullptr, 0);
    if (!Run(Out().code(0x13).u32(param1).u32(param2).take(), &r)) return false;
    return (r.u32() == 0 && r.ok()) || Fail("VupWriteFile refused");
}

bool Commands::CommandExecute(const Bytes& record, Bytes* answer) {
    Out o;
    o.code(0x70).raw(record.data(), record.size());
    In r(nullptr, 0);
    if (!Run(o.bytes(), &r)) return false;
    const size_t n = r.left();
    answer->assign(m_response.end() - static_cast<std::ptrdiff_t>(n), m_response.end());
    return true;
}

bool Commands::GetFile(const std::u16string& deviceFile, const std::string& pcFile) {
    const uint32_t handle = CreateFile(deviceFile, kGenericRead, kShareRead, kOpenExisting);
    if (handle == 0 || handle == kInvalidHandle) return Fail("device file not opened");
    Fd out(open(pcFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.get() < 0) {
        CloseHandle(handle);
        return Fail("PC file not created");
    }
    Bytes chunk;
    chunk.reserve(kChunk);
    bool ok = true;
    for (;;) {
        chunk.clear();
        if (!ReadFile(handle, kChunk, &chunk)) {
            ok = false;
            break;
        }
        if (chunk.empty()) break;
        if (!WriteAll(out.get(), chunk.data(), chunk.size())) {
            ok = Fail("PC file not written");
            break;
        }
    }
    return CloseHandle(handle) && ok;
}

bool Commands::PutFile(const std::string& pcFile, const std::u16string& deviceFile) {
    Fd in(open(pcFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return Fail("PC file not opened");
    const uint32_t handle = CreateFile(deviceFile, kGenericWrite, kShareRead, kCreateAlways);
    if (handle == 0 || handle == kInvalidHandle) return Fail("device file not created");
    uint8_t chunk[kChunk];
    bool ok = true;
    for (;;) {
        size_t n = 0;
        if (!ReadAll(in.get(), chunk, kChunk, &n)) {
            ok = Fail("PC file not read");
            break;
        }
        if (n == 0) break;
        if (!WriteFile(handle, chunk, static_cast<uint32_t>(n))) {
            ok = false;
            break;
        }
    }
    return CloseHandle(handle) && ok;
}

bool Commands::VupPutFile(const std::string& pcFile, const std::u16string& deviceName, uint32_t writeParam) {
    Fd in(open(pcFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return Fail("PC file not opened");
    const off_t size = lseek(in.get(), 0, SEEK_END);
    if (size < 0 || lseek(in.get(), 0, SEEK_SET) != 0) return Fail("PC file size unknown");
    if (!VupCreateFile(deviceName, static_cast<uint32_t>(size))) return false;
    uint8_t chunk[kChunk];
    size_t n = 0;
    for (;;) {
        if (!ReadAll(in.get(), chunk, kChunk, &n)) return Fail("PC file not read");
        if (n == 0) break;
        if (!VupTransmitData(chunk, static_cast<uint32_t>(n))) return false;
    }
    // The checksum pass reads the file again, as the library does.
    if (lseek(in.get(), 0, SEEK_SET) != 0) return Fail("PC file not rewound");
    uint8_t sum = 0;
    for (;;) {
        if (!ReadAll(in.get(), chunk, kChunk, &n)) return Fail("PC file not read");
        if (n == 0) break;
        for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + chunk[i]);
    }
    uint32_t received = 0;
    uint8_t checksum = 0;
    if (!VupGetFileInfo(&received, &checksum)) return false;
    if (checksum != sum || received != static_cast<uint32_t>(size)) return Fail("checksum differs");
    return VupWriteFile(0, writeParam);
}

}  // namespace floorc
