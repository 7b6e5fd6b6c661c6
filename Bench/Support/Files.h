// Files for the transfer benchmarks: a reproducible pattern, written and
// compared.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// Writes `size` bytes of a fixed pseudo-random pattern (seeded) to `path`.
bool WritePattern(const std::string& path, uint64_t size, uint32_t seed);
// True when the file holds exactly that pattern.
bool HasPattern(const std::string& path, uint64_t size, uint32_t seed);

}  // namespace bench
