// The export table as data: every export's C name (its Linux name), its
// Windows name and argument bytes, and the ordinal of the J2534 04.04 ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ExportEntry {
    const char* cName;      // the function, and its name in the Linux library
    const char* baseName;   // the decorated name without '_' and '@N'
    uint32_t argBytes;      // N of the stdcall name
    uint32_t ordinal;       // 1..14 for J2534 04.04, else 0
    bool decorated;         // exported as _baseName@argBytes on Windows
};

const ExportEntry* GetExportTable(size_t* count);

// The name under which the Windows DLL exports an entry.
std::string WindowsExportName(const ExportEntry& entry);
