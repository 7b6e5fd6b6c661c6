// Fuzzes the settings-file reader (vos::ProfileGetInt, GetPrivateProfileIntA
// rules) with arbitrary file contents and the section and key names the
// library asks for, plus names taken from the input.
//
// Input: byte 0 is the length of a section name, byte 1 of a key name, both
// taken from the end of the input; the rest is the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Pc/Os/OsSettings.h"

namespace {

const std::string& FilePath() {
    static const std::string path = [] {
        char dir[] = "/tmp/vantro-fuzz-settings-XXXXXX";
        const char* made = mkdtemp(dir);
        return std::string(made ? made : "/tmp") + "/fuzz.SETTING";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t sectionLength = data[0] % 16, keyLength = data[1] % 16;
    data += 2;
    size -= 2;
    if (sectionLength + keyLength > size) sectionLength = keyLength = 0;
    const std::string key(reinterpret_cast<const char*>(data + size - keyLength), keyLength);
    size -= keyLength;
    const std::string section(reinterpret_cast<const char*>(data + size - sectionLength), sectionLength);
    size -= sectionLength;

    const std::string& path = FilePath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    static const char* const kNames[][2] = {
        {"LOGSETTING", "LOGLEVEL"}, {"DEVICEINFO", "VENDORID"}, {"DEVICEINFO", "PRODUCTID"},
        {"LOGSETTING", "ERRREPORT"}, {"logsetting", "comreport"}, {"", ""}};
    volatile uint32_t sink = 0;
    for (const auto& n : kNames) sink = sink + vos::ProfileGetInt(n[0], n[1], 13, path.c_str());
    sink = sink + vos::ProfileGetInt(section.c_str(), key.c_str(), -1, path.c_str());
    (void)sink;
    return 0;
}
