// The simulated device's file system (commands 33 to 50 but 44): a folder of
// the host, SimConfig::rootDir, is the device's whole volume.
//
// Device paths ("\Temp\a.txt", "/Temp/a.txt", "Temp\a.txt") all name
// <root>/Temp/a.txt. Names are matched without regard to ASCII case, as the
// device does. A path that would leave the root is refused: ".." above the
// root, drive letters and streams (':'), and symlinks whose target lies
// outside the root.
//
// The family state also holds the knobs that tests and the command-line tool
// use to make single commands fail as a flaky device would, and a way to
// script the answer of a command outright.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Sim/Core/Services.h"

namespace sim {

// Win32 values the services use.
constexpr uint32_t kInvalidHandleValue = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeHidden = 0x02;
constexpr uint32_t kFileAttributeSystem = 0x04;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeNormal = 0x80;

// Maps a device path below root (an existing, canonical folder). False when
// the path is malformed or would leave the root. Existing components are
// matched without regard to case; the rest are taken as written.
bool MapDevicePath(const std::filesystem::path& root, const std::u16string& devicePath,
                   std::filesystem::path* host);

// A process that KovCreateProcess "started": recorded, never run.
struct SimProcess {
    std::u16string imageName;
    std::u16string commandLine;
    uint32_t creationFlags = 0;
    uint32_t processHandle = 0;
    uint32_t threadHandle = 0;
    uint32_t processId = 0;
    uint32_t threadId = 0;
};

class FileFamily {
public:
    explicit FileFamily(DeviceState& device);
    ~FileFamily();
    FileFamily(const FileFamily&) = delete;
    FileFamily& operator=(const FileFamily&) = delete;

    // The canonical root folder.
    const std::filesystem::path& Root() const { return m_root; }

    // Faults, each counting down by one per command it hits:
    // the next N ReadFile commands read (the file pointer moves) but answer
    // failure with no data;
    std::atomic<uint32_t> failReads{0};
    // the next N WriteFile commands write the first half of the data (the
    // file pointer moves) and answer failure;
    std::atomic<uint32_t> failWrites{0};
    // the next N ReadFile commands answer success with a BytesRead one larger
    // than the data they carry.
    std::atomic<uint32_t> mismatchReads{0};

    // Replaces the handler of one file command until cleared (null clears):
    // tests use it to make the device answer exactly the bytes they choose.
    void Script(uint32_t code, Handler handler);

    // Commands of this family received, per code.
    uint32_t CommandCount(uint32_t code) const;
    // Open file and search handles.
    size_t OpenHandles() const;
    std::vector<SimProcess> Processes() const;

private:
    friend struct FileServiceAccess;
    struct Impl;
    std::filesystem::path m_root;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
