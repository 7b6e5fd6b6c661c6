// The simulated device's registry (commands 0x33 to 0x3A).
//
// A tree of keys below the four predefined root keys. Names are compared
// without regard to ASCII case and kept as they were first written. Values
// hold any REG_* type as raw bytes. Handles returned by create and open are
// small numbers from 0x1000 up; deleting a key deletes its whole subtree
// (as the device's OS does) and leaves handles to it answering
// ERROR_KEY_DELETED.
//
// When SimConfig::registryFile is set, the registry is loaded from it at the
// first registry command and written back after every change and at every
// flush. The file is text, one line per key and per value:
//     K <path> <class>
//     V <path> <value name> <type> <data in hex>
// <path> is the key's full path from its root ("HKEY_LOCAL_MACHINE\Software"),
// texts are UTF-8 with '%', '\', spaces and control characters written as %XX, and
// "-" stands for an empty text or empty data.
//
// A hostile device (SimConfig::hostile) answers every value query with
// success and 4096 bytes more than the size the PC offered.
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "Sim/Core/Services.h"

namespace sim {
namespace {

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorKeyDeleted = 1018;

constexpr uint32_t kCreatedNewKey = 1;
constexpr uint32_t kOpenedExistingKey = 2;

constexpr uint32_t kFirstHandle = 0x1000;
constexpr uint32_t kHandleStep = 4;

struct RootKey {
    uint32_t handle;
    const char* name;
};
constexpr RootKey kRoots[] = {
    {0x80000000u, "HKEY_CLASSES_ROOT"},
    {0x80000001u, "HKEY_CURRENT_USER"},
    {0x80000002u, "HKEY_LOCAL_MACHINE"},
    {0x80000003u, "HKEY_USERS"},
};

std::u16string Fold(const std::u16string& text) {
    std::u16string out = text;
    for (char16_t& c : out) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return out;
}

struct RegValue {
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

struct RegKey {
    std::u16string name;
    std::u16string className;
    RegKey* parent = nullptr;
    bool deleted = false;
    std::map<std::u16string, std::shared_ptr<RegKey>> subkeys;  // by folded name
    std::map<std::u16string, RegValue> values;                  // by folded name
};

std::vector<std::u16string> SplitPath(const std::u16string& path) {
    std::vector<std::u16string> parts;
    std::u16string part;
    for (char16_t c : path) {
        if (c == u'\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

// ---- the text form of the registry file ------------------------------------------

std::string EscapeText(const std::u16string& text) {
    if (text.empty()) return "-";
    std::string utf8 = ToUtf8(text);
    std::string out;
    for (unsigned char c : utf8) {
        if (c <= 0x20 || c == '%' || c == '\\' || c == 0x7F || (c == '-' && utf8.size() == 1)) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool UnescapeText(const std::string& token, std::u16string* text) {
    text->clear();
    if (token == "-") return true;
    std::string utf8;
    for (size_t i = 0; i < token.size(); ++i) {
        if (token[i] != '%') {
            utf8.push_back(token[i]);
            continue;
        }
        if (i + 2 >= token.size()) return false;
        int hi = HexDigit(token[i + 1]), lo = HexDigit(token[i + 2]);
        if (hi < 0 || lo < 0) return false;
        utf8.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    *text = ToUtf16(utf8);
    return true;
}

std::string HexData(const std::vector<uint8_t>& data) {
    if (data.empty()) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : data) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

bool ParseHexData(const std::string& token, std::vector<uint8_t>* data) {
    data->clear();
    if (token == "-") return true;
    if (token.size() % 2) return false;
    for (size_t i = 0; i < token.size(); i += 2) {
        int hi = HexDigit(token[i]), lo = HexDigit(token[i + 1]);
        if (hi < 0 || lo < 0) return false;
        data->push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

// ---- the registry ---------------------------------------------------------------------

class Registry {
public:
    explicit Registry(DeviceState& device) : m_device(device) {
        for (const RootKey& root : kRoots) {
            auto key = std::make_shared<RegKey>();
            key->name = ToUtf16(root.name);
            m_roots[root.handle] = key;
        }
        if (!Load()) Seed();
    }

    // The key behind a handle; *error tells why there is none.
    std::shared_ptr<RegKey> Resolve(uint32_t handle, uint32_t* error) {
        auto root = m_roots.find(handle);
        if (root != m_roots.end()) return root->second;
        auto open = m_handles.find(handle);
        if (open == m_handles.end()) {
            *error = kErrorInvalidHandle;
            return nullptr;
        }
        if (open->second->deleted) {
            *error = kErrorKeyDeleted;
            return nullptr;
        }
        return open->second;
    }

    std::shared_ptr<RegKey> Find(const std::shared_ptr<RegKey>& base, const std::u16string& path) {
        std::shared_ptr<RegKey> key = base;
        for (const std::u16string& part : SplitPath(path)) {
            auto it = key->subkeys.find(Fold(part));
            if (it == key->subkeys.end()) return nullptr;
            key = it->second;
        }
        return key;
    }

    // Finds or creates every key along the path; *created when the last one
    // is new.
    std::shared_ptr<RegKey> Create(const std::shared_ptr<RegKey>& base, const std::u16string& path,
                                   const std::u16string& className, bool* created) {
        std::shared_ptr<RegKey> key = base;
        *created = false;
        for (const std::u16string& part : SplitPath(path)) {
            auto& slot = key->subkeys[Fold(part)];
            if (!slot) {
                slot = std::make_shared<RegKey>();
                slot->name = part;
                slot->parent = key.get();
                *created = true;
            } else {
                *created = false;
            }
            key = slot;
        }
        if (*created) key->className = className;
        return key;
    }

    uint32_t NewHandle(const std::shared_ptr<RegKey>& key) {
        while (m_handles.count(m_nextHandle) || m_nextHandle >= 0x80000000u || m_nextHandle == 0) {
            m_nextHandle = m_nextHandle >= 0x80000000u ? kFirstHandle : m_nextHandle + kHandleStep;
        }
        uint32_t handle = m_nextHandle;
        m_nextHandle += kHandleStep;
        m_handles[handle] = key;
        return handle;
    }

    bool Close(uint32_t handle) {
        if (m_roots.count(handle)) return true;
        return m_handles.erase(handle) != 0;
    }

    static void MarkDeleted(RegKey& key) {
        key.deleted = true;
        for (auto& sub : key.subkeys) MarkDeleted(*sub.second);
    }

    uint32_t Delete(const std::shared_ptr<RegKey>& base, const std::u16string& path) {
        std::vector<std::u16string> parts = SplitPath(path);
        if (parts.empty()) return kErrorInvalidParameter;  // a key never deletes itself here
        std::shared_ptr<RegKey> key = Find(base, path);
        if (!key) return kErrorFileNotFound;
        if (!key->parent) return kErrorAccessDenied;  // a root key
        MarkDeleted(*key);
        key->parent->subkeys.erase(Fold(key->name));
        return kErrorSuccess;
    }

    void Changed() { Save(); }

    // Writes the whole registry to the configured file; false on failure.
    bool Save() {
        const std::string& file = m_device.Config().registryFile;
        if (file.empty()) return true;
        std::ostringstream text;
        text << "# vantro-sim registry 1\n";
        for (const RootKey& root : kRoots) WriteKey(text, *m_roots[root.handle], root.name);
        std::string tmp = file + ".tmp";
        {
            std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
            if (!out) return false;
            out << text.str();
            if (!out.flush()) return false;
        }
        if (std::rename(tmp.c_str(), file.c_str()) == 0) return true;
        // Windows does not rename over an existing file.
        std::remove(file.c_str());
        return std::rename(tmp.c_str(), file.c_str()) == 0;
    }

private:
    static void WriteKey(std::ostringstream& text, const RegKey& key, const std::string& path) {
        if (key.parent) text << "K " << path << ' ' << EscapeText(key.className) << '\n';
        for (const auto& entry : key.values) {
            const RegValue& value = entry.second;
            text << "V " << path << ' ' << EscapeText(value.name) << ' ' << value.type << ' '
                 << HexData(value.data) << '\n';
        }
        for (const auto& sub : key.subkeys)
            WriteKey(text, *sub.second, path + "\\" + EscapeText(sub.second->name));
    }

    std::shared_ptr<RegKey> RootByName(const std::u16string& name) {
        for (const RootKey& root : kRoots) {
            if (Fold(ToUtf16(root.name)) == Fold(name)) return m_roots[root.handle];
        }
        return nullptr;
    }

    // The key of a stored path, created as needed; null for a bad path.
    std::shared_ptr<RegKey> KeyOfStoredPath(const std::string& token) {
        std::vector<std::u16string> parts;
        std::string part;
        std::istringstream split(token);
        while (std::getline(split, part, '\\')) {
            std::u16string text;
            if (!UnescapeText(part, &text) || text.empty()) return nullptr;
            parts.push_back(text);
        }
        if (parts.empty()) return nullptr;
        std::shared_ptr<RegKey> key = RootByName(parts[0]);
        if (!key) return nullptr;
        std::u16string rest;
        for (size_t i = 1; i < parts.size(); ++i) rest += parts[i] + u"\\";
        bool created = false;
        return Create(key, rest, std::u16string(), &created);
    }

    bool Load() {
        const std::string& file = m_device.Config().registryFile;
        if (file.empty()) return false;
        std::ifstream in(file, std::ios::binary);
        if (!in) return false;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::istringstream fields(line);
            std::string kind, path;
            fields >> kind >> path;
            if (kind == "K") {
                std::string classToken;
                fields >> classToken;
                std::shared_ptr<RegKey> key = KeyOfStoredPath(path);
                std::u16string className;
                if (key && UnescapeText(classToken.empty() ? "-" : classToken, &className))
                    key->className = className;
            } else if (kind == "V") {
                std::string nameToken, dataToken;
                uint32_t type = 0;
                if (!(fields >> nameToken >> type >> dataToken)) continue;
                std::shared_ptr<RegKey> key = KeyOfStoredPath(path);
                RegValue value;
                value.type = type;
                if (!key || !UnescapeText(nameToken, &value.name) || !ParseHexData(dataToken, &value.data))
                    continue;
                key->values[Fold(value.name)] = value;
            }
        }
        return true;
    }

    // A fresh device's registry.
    void Seed() {
        std::shared_ptr<RegKey> machine = m_roots[0x80000002u];
        bool created = false;
        Create(machine, u"Software", u"", &created);
        Create(machine, u"System", u"", &created);
        std::shared_ptr<RegKey> ident = Create(machine, u"Ident", u"", &created);
        RegValue name;
        name.name = u"Name";
        name.type = 1;  // REG_SZ
        for (char16_t c : std::u16string(u"VANTRO-SIM")) {
            name.data.push_back(static_cast<uint8_t>(c));
            name.data.push_back(0);
        }
        name.data.push_back(0);
        name.data.push_back(0);
        ident->values[Fold(name.name)] = name;
        std::shared_ptr<RegKey> user = m_roots[0x80000001u];
        Create(user, u"Software", u"", &created);
    }

    DeviceState& m_device;
    std::map<uint32_t, std::shared_ptr<RegKey>> m_roots;
    std::map<uint32_t, std::shared_ptr<RegKey>> m_handles;
    uint32_t m_nextHandle = kFirstHandle;
};

// ---- the commands ----------------------------------------------------------------------

void RegCreateKeyEx(CommandContext& ctx) {
    uint32_t handle = ctx.request.u32();
    std::u16string subKey = ctx.request.wstr();
    std::u16string className = ctx.request.wstr();
    if (!ctx.request.ok()) return;
    Registry& reg = ctx.Family<Registry>();
    uint32_t error = kErrorSuccess;
    std::shared_ptr<RegKey> base = reg.Resolve(handle, &error);
    if (!base) {
        ctx.response.u32(error).u32(0).u32(0);
        return;
    }
    bool created = false;
    std::shared_ptr<RegKey> key = reg.Create(base, subKey, className, &created);
    if (created) reg.Changed();
    ctx.response.u32(kErrorSuccess).u32(reg.NewHandle(key)).u32(created ? kCreatedNewKey : kOpenedExistingKey);
}

void RegOpenKeyEx(CommandContext& ctx) {
    uint32_t handle = ctx.request.u32();
    std::u16string subKey = ctx.request.wstr();
    if (!ctx.request.ok()) return;
    Registry& reg = ctx.Family<Registry>();
    uint32_t error = kErrorSuccess;
    std::shared_ptr<RegKey> base = reg.Resolve(handle, &error);
    std::shared_ptr<RegKey> key = base ? reg.Find(base, subKey) : nullptr;
    if (base && !key) error = kErrorFileNotFound;
    if (!key) {
        ctx.response.u32(error).u32(0);
        return;
    }
    ctx.response.u32(kErrorSuccess).u32(reg.NewHandle(key));
}

void RegDeleteKey(CommandContext& ctx) {
    uint32_t handle = ctx.request.u32();
    std::u16string subKey = ctx.request.wstr();
    if (!ctx.request.ok()) return;
    Registry& reg = ctx.Family<Registry>();
    uint32_t error = kErrorSuccess;
    std::shared_ptr<RegKey> base = reg.Resolve(handle, &error);
    if (base) {
        error = reg.Delete(base, subKey);
        if (error == kErrorSuccess) reg.Changed();
    }
    ctx.response.u32(error);
}

void RegCloseKey(CommandContext& ctx) {
    uint32_t handle = ctx.request.u32();
    if (!ctx.request.ok()) return;
    ctx.response.u32(ctx.Family<Registry>().Close(handle) ? kErrorSuccess : kErrorInvalidHandle);
}

void RegQueryValueEx(CommandContext& ctx) {
    uint32_t handle = ctx.request.u32();
    std::u16string name = ctx.request.wstr();
    uint32_t dataSize = ctx.request.u32();
    if (!ctx.request.ok()) return;
    Registry& reg = ctx.Family<Registry>();
    uint32_t error = kErrorSuccess;
    std::shared_ptr<RegKey> key = reg.Resolve(handle, &error);
    const RegValue* value = nullptr;
    if (key) {
        auto it = key->values.find(Fold(name));
        if (it != key->values.end()) value = &it->second;
        else error = kErrorFileNotFound;
    }
    static const std::vector<uint8_t> kNoData;
    if (!value) {
        ctx.response.u32(error).u32(0).buf(kNoData).u32(0);
        return;
    }
    if (ctx.Hostile()) {
        // Success with far more data than the PC has room for.
        std::vector<uint8_t> more = value->data;
        more.resize(HostileSize(dataSize, 4096), 0xEE);
        ctx.response.u32(kErrorSuccess).u32(value->type).buf(more).u32(static_cast<uint32_t>(more.size()));
        return;
    }
    uint32_t size = static_cast<uint32_t>(value->data.size());
    if (size > dataSize) {
        ctx.response.u32(kErrorMoreData).u32(value->type).buf(kNoData).u32(size);
        return;
    }
    ctx.response.u32(kErrorSuccess).u32(value->type).buf(value->data).u32(size);
}

void RegSetValueEx(CommandContext& ctx) {
    uint32_t handle = ctx.request.u32();
    RegValue value;
    value.name = ctx.request.wstr();
    value.type = ctx.request.u32();
    value.data = ctx.request.buf();
    if (!ctx.request.ok()) return;
    Registry& reg = ctx.Family<Registry>();
    uint32_t error = kErrorSuccess;
    std::shared_ptr<RegKey> key = reg.Resolve(handle, &error);
    if (key) {
        key->values[Fold(value.name)] = value;
        reg.Changed();
    }
    ctx.response.u32(error);
}

void RegDeleteValue(CommandContext& ctx) {
    uint32_t handle = ctx.request.u32();
    std::u16string name = ctx.request.wstr();
    if (!ctx.request.ok()) return;
    Registry& reg = ctx.Family<Registry>();
    uint32_t error = kErrorSuccess;
    std::shared_ptr<RegKey> key = reg.Resolve(handle, &error);
    if (key) {
        if (key->values.erase(Fold(name))) reg.Changed();
        else error = kErrorFileNotFound;
    }
    ctx.response.u32(error);
}

void RegFlushKey(CommandContext& ctx) {
    uint32_t handle = ctx.request.u32();
    if (!ctx.request.ok()) return;
    Registry& reg = ctx.Family<Registry>();
    uint32_t error = kErrorSuccess;
    if (reg.Resolve(handle, &error) && !reg.Save()) error = 29;  // ERROR_WRITE_FAULT
    ctx.response.u32(error);
}

}  // namespace

void RegisterRegistryServices(ServiceTable& table) {
    table.Register(0x33, RegCreateKeyEx);
    table.Register(0x34, RegOpenKeyEx);
    table.Register(0x35, RegDeleteKey);
    table.Register(0x36, RegCloseKey);
    table.Register(0x37, RegQueryValueEx);
    table.Register(0x38, RegSetValueEx);
    table.Register(0x39, RegDeleteValue);
    table.Register(0x3A, RegFlushKey);
}

}  // namespace sim
