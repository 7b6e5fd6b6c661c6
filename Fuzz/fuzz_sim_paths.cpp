// Fuzzes the simulator's mapping of device paths onto its root folder
// (MapDevicePath): whatever the path (.., drive letters, streams, absolute
// paths, either slash, symbolic links), a path it accepts lies below the
// root once every link is followed. The root holds a folder, a file, a link
// into the root, links to the root itself and links out of it.
//
// Input: the device path as UTF-16 (pairs of bytes, low byte first).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "Sim/Services/FileServices.h"

namespace fs = std::filesystem;

namespace {

struct Root {
    fs::path root;
    Root() {
        char dir[] = "/tmp/vantro-fuzz-paths-XXXXXX";
        const char* made = mkdtemp(dir);
        if (!made) return;
        const fs::path base = fs::canonical(made);
        root = base / "root";
        std::error_code ec;
        fs::create_directories(root / "Sub" / "Deeper", ec);
        fs::create_directories(base / "outside", ec);
        std::ofstream(root / "Sub" / "a.txt") << "a";
        fs::create_directory_symlink(root / "Sub", root / "In", ec);
        fs::create_directory_symlink(base / "outside", root / "Out", ec);
        fs::create_directory_symlink("/", root / "Top", ec);
        fs::create_symlink("../../outside", root / "Sub" / "Up", ec);
        // Links to the root itself: ".." after them is the root's parent when
        // the link is followed first.
        fs::create_directory_symlink(".", root / "Self", ec);
        fs::create_directory_symlink("..", root / "Sub" / "Back", ec);
        fs::create_symlink(base / "outside" / "file.txt", root / "FileOut", ec);
        std::ofstream(base / "outside" / "file.txt") << "x";
    }
};

bool Below(const fs::path& root, const fs::path& p) {
    auto r = root.begin();
    auto i = p.begin();
    for (; r != root.end(); ++r, ++i)
        if (i == p.end() || *i != *r) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Root fixture;
    if (fixture.root.empty()) return 0;
    std::u16string path;
    for (size_t i = 0; i + 1 < size; i += 2) path.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

    fs::path host;
    if (!sim::MapDevicePath(fixture.root, path, &host)) return 0;
    // Accepted: the path, with every link followed as far as it exists, is the
    // root or below it.
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(host, ec);
    if (ec) return 0;
    if (!Below(fixture.root, resolved)) {
        std::fprintf(stderr, "device path escapes the root: %s -> %s\n", host.c_str(), resolved.c_str());
        __builtin_trap();
    }
    return 0;
}
