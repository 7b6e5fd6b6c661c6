// Reads the export directory of a PE file (a Windows DLL), on any OS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtest {

struct PeExport {
    std::string name;
    uint32_t ordinal;
};

bool ReadPeExports(const std::string& path, std::vector<PeExport>* exports, std::string* error);

}  // namespace vtest
