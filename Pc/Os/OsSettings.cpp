// The settings file: its name, and integers read from it by the rules of
// GetPrivateProfileIntA. The same parser serves every OS, so a settings file
// reads the same on Windows and Linux.
//
// The rules, as Windows applies them:
//  - a line "[name]" starts a section; the name runs to the last ']' on the
//    line and is trimmed; lines before the first section belong to none;
//  - "key = value": the key is trimmed, the value too; a line without '='
//    is a key without value; lines beginning with ';' are comments;
//  - the requested section and key are trimmed and match without regard to
//    case; only the first section of a name is searched;
//  - a value enclosed in matching quotes (' or ") loses them; at most 29
//    characters of it are used (GetPrivateProfileIntA reads it into a
//    30-character buffer);
//  - an empty value, a key without value, a missing key, section or file
//    gives the default;
//  - the number: leading blanks and control characters skipped, one '+' or
//    '-', then "0x", "0o" or "0b" (lower case) choose base 16, 8 or 2, else
//    10; digits are taken up to the first character that is not a digit of
//    the base; the sum wraps at 32 bits and a '-' negates it (two's
//    complement).
#include "Pc/Os/OsSettings.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace vos {
namespace {

std::mutex g_overrideLock;
std::string g_override;

bool IsProfileSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1a;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsProfileSpace(s[b])) ++b;
    while (e > b && IsProfileSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool ReadWholeFile(const char* path, std::string* text) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text->append(chunk, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// The raw value of the key in the first section of the name; false when the
// section or key is missing or the key has no '='.
bool FindValue(const std::string& text, const std::string& section, const std::string& key,
               std::string* value) {
    size_t pos = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    bool inSection = false;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close != std::string::npos) {
                // Only the first section of the name counts.
                if (inSection) return false;
                inSection = EqualNoCase(Trim(line.substr(1, close - 1)), section);
                continue;
            }
        }
        if (!inSection) continue;
        size_t eq = line.find('=');
        std::string name = Trim(line.substr(0, eq));
        if (!EqualNoCase(name, key)) continue;
        if (eq == std::string::npos) return false;
        *value = Trim(line.substr(eq + 1));
        return true;
    }
    return false;
}

// The value as GetPrivateProfileString hands it over in a buffer of 30
// characters: unquoted and cut to 29 characters.
std::string CopyEntry(const std::string& raw) {
    const size_t kBuffer = 30;
    std::string v = raw;
    bool quoted = false;
    if (v.size() >= 2 && (v[0] == '\'' || v[0] == '"') && v.back() == v[0]) {
        v.erase(0, 1);
        quoted = true;
    }
    bool fits = v.size() <= kBuffer;
    if (v.size() > kBuffer - 1) v.resize(kBuffer - 1);
    if (quoted && fits && !v.empty()) v.pop_back();
    return v;
}

uint32_t ParseInteger(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    bool minus = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
    uint32_t base = 10;
    if (i + 1 < s.size() && s[i] == '0') {
        if (s[i + 1] == 'b') base = 2;
        else if (s[i + 1] == 'o') base = 8;
        else if (s[i + 1] == 'x') base = 16;
        if (base != 10) i += 2;
    }
    uint32_t total = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'Z') digit = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'z') digit = static_cast<uint32_t>(c - 'a' + 10);
        else break;
        if (digit >= base) break;
        total = total * base + digit;
    }
    return minus ? 0u - total : total;
}

}  // namespace

uint32_t ProfileGetInt(const char* section, const char* key, int32_t defaultValue, const char* path) {
    const uint32_t fallback = static_cast<uint32_t>(defaultValue);
    if (!section || !key || !path) return fallback;
    std::string wantSection = Trim(section);
    std::string wantKey = Trim(key);
    if (wantSection.empty() || wantKey.empty()) return fallback;
    std::string text;
    if (!ReadWholeFile(path, &text)) return fallback;
    std::string raw;
    if (!FindValue(text, wantSection, wantKey, &raw)) return fallback;
    std::string value = CopyEntry(raw);
    if (value.empty()) return fallback;
    return ParseInteger(value);
}

std::string SettingsPathFor(const std::string& executablePath) {
    // _splitpath: drive ("C:"), directory (up to the last separator), file
    // name, extension (from the last '.' of the file part).
    std::string drive, rest = executablePath;
    if (rest.size() >= 2 && rest[1] == ':') {
        drive = rest.substr(0, 2);
        rest.erase(0, 2);
    }
    size_t slash = rest.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? std::string() : rest.substr(0, slash + 1);
    std::string file = slash == std::string::npos ? rest : rest.substr(slash + 1);
    size_t dot = file.rfind('.');
    std::string name = dot == std::string::npos ? file : file.substr(0, dot);
    return drive + dir + name + ".SETTING";
}

std::string SettingsFilePath() {
    {
        std::lock_guard<std::mutex> lock(g_overrideLock);
        if (!g_override.empty()) return g_override;
    }
    return SettingsPathFor(HostExecutablePath());
}

void SetSettingsPathOverride(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_overrideLock);
    g_override = path;
}

}  // namespace vos
