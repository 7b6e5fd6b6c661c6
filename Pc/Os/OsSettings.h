// The settings file and the host executable's path.
#pragma once

#include <cstdint>
#include <string>

namespace vos {

// Full path of the executable of the current process (GetModuleFileNameA
// with no module; /proc/self/exe on Linux).
std::string HostExecutablePath();

// The settings file: the host executable's path with its extension replaced
// by ".SETTING" ("%s%s%s.SETTING" of drive, directory and file name).
std::string SettingsFilePath();
// Builds that name from an executable path.
std::string SettingsPathFor(const std::string& executablePath);

// Test hook: use this file instead of SettingsFilePath() ("" restores it).
void SetSettingsPathOverride(const std::string& path);

// An integer of a private profile file, by the rules of
// GetPrivateProfileIntA: sections and keys match without regard to case, the
// value is trimmed and unquoted, an optional sign, a 0x/0o/0b prefix and the
// digits up to the first other character are taken; a missing file, section,
// key or empty value gives the default; a negative value comes back as its
// two's complement.
uint32_t ProfileGetInt(const char* section, const char* key, int32_t defaultValue,
                       const char* path);

}  // namespace vos
