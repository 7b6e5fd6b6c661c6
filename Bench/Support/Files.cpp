#include "Bench/Support/Files.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {
namespace {

void Fill(std::vector<uint8_t>& block, uint32_t* state) {
    for (uint8_t& b : block) {
        *state = *state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(*state >> 24);
    }
}

}  // namespace

bool WritePattern(const std::string& path, uint64_t size, uint32_t seed) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<uint8_t> block(1 << 16);
    uint32_t state = seed;
    bool ok = true;
    for (uint64_t done = 0; ok && done < size; done += block.size()) {
        Fill(block, &state);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), size - done));
        ok = std::fwrite(block.data(), 1, n, f) == n;
    }
    return std::fclose(f) == 0 && ok;
}

bool HasPattern(const std::string& path, uint64_t size, uint32_t seed) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> want(1 << 16), got(1 << 16);
    uint32_t state = seed;
    bool ok = true;
    for (uint64_t done = 0; ok && done < size; done += want.size()) {
        Fill(want, &state);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(want.size(), size - done));
        ok = std::fread(got.data(), 1, n, f) == n && std::equal(want.begin(), want.begin() + n, got.begin());
    }
    ok = ok && std::fgetc(f) == EOF;
    std::fclose(f);
    return ok;
}

}  // namespace bench
