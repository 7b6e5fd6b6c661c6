#include "Tests/Support/PeExports.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace vtest {
namespace {

uint32_t U32(const std::vector<uint8_t>& f, size_t off) {
    if (off + 4 > f.size()) return 0;
    return f[off] | (f[off + 1] << 8) | (f[off + 2] << 16) | (static_cast<uint32_t>(f[off + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& f, size_t off) {
    if (off + 2 > f.size()) return 0;
    return static_cast<uint16_t>(f[off] | (f[off + 1] << 8));
}

}  // namespace

bool ReadPeExports(const std::string& path, std::vector<PeExport>* exports, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (f.size() < 0x40 || f[0] != 'M' || f[1] != 'Z') {
        *error = "not an MZ file";
        return false;
    }
    size_t pe = U32(f, 0x3C);
    if (pe + 24 > f.size() || std::memcmp(&f[pe], "PE\0\0", 4) != 0) {
        *error = "no PE header";
        return false;
    }
    uint16_t sections = U16(f, pe + 6);
    uint16_t optSize = U16(f, pe + 20);
    size_t opt = pe + 24;
    uint16_t magic = U16(f, opt);
    size_t dirs = opt + (magic == 0x20B ? 112 : 96);
    uint32_t exportRva = U32(f, dirs);
    if (exportRva == 0) {
        *error = "no export directory";
        return false;
    }
    size_t secTable = opt + optSize;
    auto rvaToOff = [&](uint32_t rva) -> size_t {
        for (uint16_t i = 0; i < sections; ++i) {
            size_t s = secTable + i * 40u;
            uint32_t va = U32(f, s + 12), vsize = U32(f, s + 8), raw = U32(f, s + 20), rawSize = U32(f, s + 16);
            uint32_t size = vsize > rawSize ? vsize : rawSize;
            if (rva >= va && rva < va + size) return raw + (rva - va);
        }
        return static_cast<size_t>(-1);
    };
    size_t ed = rvaToOff(exportRva);
    if (ed == static_cast<size_t>(-1) || ed + 40 > f.size()) {
        *error = "bad export directory";
        return false;
    }
    uint32_t base = U32(f, ed + 16);
    uint32_t nNames = U32(f, ed + 24);
    size_t names = rvaToOff(U32(f, ed + 32));
    size_t ords = rvaToOff(U32(f, ed + 36));
    exports->clear();
    for (uint32_t i = 0; i < nNames; ++i) {
        size_t nameOff = rvaToOff(U32(f, names + 4 * i));
        if (nameOff >= f.size()) {
            *error = "bad name pointer";
            return false;
        }
        std::string name(reinterpret_cast<const char*>(&f[nameOff]));
        exports->push_back({name, base + U16(f, ords + 2 * i)});
    }
    return true;
}

}  // namespace vtest
