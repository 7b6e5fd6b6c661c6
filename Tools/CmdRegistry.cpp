// vantro reg: the device's registry (get, set, delete, list).
#include <cstring>

#include "Tools/Cli.h"
#include "Tools/Text.h"
#include "vantro/vantro.h"

namespace cli {

namespace {

struct RootKey {
    const char* shortName;
    const char* longName;
    uint32_t handle;
};

const RootKey kRoots[] = {
    {"HKCR", "HKEY_CLASSES_ROOT", VANTRO_HKEY_CLASSES_ROOT},
    {"HKCU", "HKEY_CURRENT_USER", VANTRO_HKEY_CURRENT_USER},
    {"HKLM", "HKEY_LOCAL_MACHINE", VANTRO_HKEY_LOCAL_MACHINE},
    {"HKU", "HKEY_USERS", VANTRO_HKEY_USERS},
};

struct TypeName {
    const char* name;
    uint32_t type;
};

const TypeName kTypes[] = {
    {"none", VANTRO_REG_NONE},       {"sz", VANTRO_REG_SZ},           {"expand_sz", VANTRO_REG_EXPAND_SZ},
    {"binary", VANTRO_REG_BINARY},   {"dword", VANTRO_REG_DWORD},     {"multi_sz", VANTRO_REG_MULTI_SZ},
    {"qword", VANTRO_REG_QWORD},
};

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string TypeText(uint32_t type) {
    for (const TypeName& t : kTypes)
        if (t.type == type) return t.name;
    return std::to_string(type);
}

// "HKLM\Software\Vantro" -> root handle and "Software\Vantro".
bool ParseKey(const std::string& text, uint32_t* root, std::string* sub, std::string* display) {
    std::string key = text;
    for (char& c : key)
        if (c == '/') c = '\\';
    const size_t slash = key.find('\\');
    const std::string first = Upper(key.substr(0, slash));
    for (const RootKey& r : kRoots) {
        if (first == r.shortName || first == r.longName) {
            *root = r.handle;
            *sub = slash == std::string::npos ? std::string() : key.substr(slash + 1);
            while (!sub->empty() && sub->back() == '\\') sub->pop_back();
            *display = std::string(r.shortName) + (sub->empty() ? "" : "\\" + *sub);
            return true;
        }
    }
    return false;
}

std::string ValueNameOf(const std::string& name) { return name == "@" ? std::string() : name; }

// Encodes DATA for a type; false when it does not fit the type.
bool EncodeValue(uint32_t type, const std::string& data, std::vector<uint8_t>* out, std::string* error) {
    out->clear();
    auto putText = [out](const std::string& text) {
        for (VWCHAR c : ToWide(text)) {
            out->push_back(static_cast<uint8_t>(c));
            out->push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) >> 8));
        }
        out->push_back(0);
        out->push_back(0);
    };
    switch (type) {
        case VANTRO_REG_SZ:
        case VANTRO_REG_EXPAND_SZ:
            putText(data);
            return true;
        case VANTRO_REG_MULTI_SZ: {
            size_t start = 0;
            for (;;) {
                const size_t bar = data.find('|', start);
                putText(data.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
                if (bar == std::string::npos) break;
                start = bar + 1;
            }
            out->push_back(0);
            out->push_back(0);
            return true;
        }
        case VANTRO_REG_DWORD:
        case VANTRO_REG_QWORD: {
            uint64_t v = 0;
            const uint64_t max = type == VANTRO_REG_DWORD ? 0xFFFFFFFFull : ~0ull;
            if (!ParseUint(data, max, &v)) {
                *error = "'" + data + "' is not a number for " + TypeText(type);
                return false;
            }
            const int n = type == VANTRO_REG_DWORD ? 4 : 8;
            for (int i = 0; i < n; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
            return true;
        }
        default:
            if (!ParseHexBytes(data, out)) {
                *error = "'" + data + "' is not hex bytes";
                return false;
            }
            return true;
    }
}

// The value in text and JSON.
void DecodeValue(uint32_t type, const std::vector<uint8_t>& data, std::string* text, Json* json) {
    auto textAt = [&data](size_t from, size_t* end) {
        std::string s = Utf16BytesToUtf8(data.data() + from, data.size() - from);
        size_t i = from;
        while (i + 1 < data.size() && (data[i] | data[i + 1])) i += 2;
        *end = i + 2;
        return s;
    };
    switch (type) {
        case VANTRO_REG_SZ:
        case VANTRO_REG_EXPAND_SZ: {
            size_t end = 0;
            *text = textAt(0, &end);
            *json = Json(*text);
            return;
        }
        case VANTRO_REG_MULTI_SZ: {
            Json list = Json::Array();
            std::string joined;
            size_t at = 0;
            while (at + 1 < data.size() && (data[at] | data[at + 1])) {
                size_t end = 0;
                const std::string part = textAt(at, &end);
                list.Push(part);
                joined += (joined.empty() ? "" : "|") + part;
                at = end;
            }
            *text = joined;
            *json = list;
            return;
        }
        case VANTRO_REG_DWORD:
        case VANTRO_REG_QWORD:
            if (data.size() == (type == VANTRO_REG_DWORD ? 4u : 8u)) {
                uint64_t v = 0;
                for (size_t i = 0; i < data.size(); ++i) v |= static_cast<uint64_t>(data[i]) << (8 * i);
                *text = std::to_string(v) + " (0x" + Hex32(static_cast<uint32_t>(v)).substr(2) + ")";
                if (type == VANTRO_REG_QWORD && (v >> 32)) *text = std::to_string(v);
                *json = Json(v);
                return;
            }
            break;
        default:
            break;
    }
    *text = HexBytes(data.data(), data.size());
    *json = Json(*text);
}

// An open key that closes itself.
class OpenKey {
public:
    ~OpenKey() {
        if (m_open) KovRegCloseKey(m_handle);
    }
    uint32_t Open(uint32_t root, const std::string& sub) {
        if (sub.empty()) {
            m_handle = root;
            return 0;
        }
        const uint32_t rc = KovRegOpenKeyEx(root, ToWide(sub).c_str(), 0, 0, &m_handle);
        m_open = rc == 0;
        return rc;
    }
    uint32_t Create(uint32_t root, const std::string& sub, uint32_t* disposition) {
        if (sub.empty()) {
            m_handle = root;
            return 0;
        }
        const WString cls;
        const uint32_t rc =
            KovRegCreateKeyEx(root, ToWide(sub).c_str(), 0, cls.c_str(), 0, 0, nullptr, &m_handle, disposition);
        m_open = rc == 0;
        return rc;
    }
    uint32_t Handle() const { return m_handle; }

private:
    uint32_t m_handle = 0;
    bool m_open = false;
};

// Reads one value, growing the buffer when the device says it is too small.
uint32_t QueryValue(uint32_t key, const std::string& name, uint32_t* type, std::vector<uint8_t>* data) {
    data->assign(1024, 0);
    for (int attempt = 0; attempt < 3; ++attempt) {
        uint32_t size = static_cast<uint32_t>(data->size());
        const uint32_t rc = KovRegQueryValueEx(key, ToWide(name).c_str(), nullptr, type, data->data(), &size);
        if (rc == VANTRO_ERROR_MORE_DATA && size > data->size()) {
            data->assign(size, 0);
            continue;
        }
        if (rc == 0) data->resize(size);
        return rc;
    }
    return VANTRO_ERROR_MORE_DATA;
}

Json ValueJson(const std::string& name, uint32_t type, const std::vector<uint8_t>& data, std::string* text) {
    Json value;
    DecodeValue(type, data, text, &value);
    Json j = Json::Object();
    j.Set("name", name);
    j.Set("type", TypeText(type));
    j.Set("typeCode", type);
    j.Set("size", data.size());
    j.Set("value", value);
    return j;
}

int Get(Context& ctx, const ParsedArgs& p, uint32_t root, const std::string& sub, const std::string& display) {
    if (p.positional.size() != 3) return ctx.out.Usage("reg get KEY NAME");
    const std::string name = ValueNameOf(p.positional[2]);
    OpenKey key;
    uint32_t rc = key.Open(root, sub);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot open " + display));
    uint32_t type = 0;
    std::vector<uint8_t> data;
    rc = QueryValue(key.Handle(), name, &type, &data);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot read " + display + "\\" + name));
    std::string text;
    Json j = ValueJson(name, type, data, &text);
    j.Set("key", display);
    if (ctx.out.IsJson()) return ctx.out.Done(j);
    ctx.out.Line(display + "\\" + (name.empty() ? "@" : name) + " (" + TypeText(type) + ") = " + text);
    return kExitOk;
}

int Set(Context& ctx, const ParsedArgs& p, uint32_t root, const std::string& sub, const std::string& display) {
    if (p.positional.size() != 4) return ctx.out.Usage("reg set KEY NAME DATA [--type TYPE]");
    const std::string name = ValueNameOf(p.positional[2]);
    const std::string typeName = p.Value("--type", "sz");
    uint32_t type = 0;
    bool known = false;
    for (const TypeName& t : kTypes) {
        if (typeName == t.name) {
            type = t.type;
            known = true;
        }
    }
    if (!known) return ctx.out.Usage("unknown value type '" + typeName + "'");
    std::vector<uint8_t> data;
    std::string error;
    if (!EncodeValue(type, p.positional[3], &data, &error)) return ctx.out.Usage(error);

    OpenKey key;
    uint32_t disposition = 0;
    uint32_t rc = key.Create(root, sub, &disposition);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot create " + display));
    rc = KovRegSetValueEx(key.Handle(), ToWide(name).c_str(), 0, type, data.data(), static_cast<uint32_t>(data.size()));
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot write " + display + "\\" + name));
    rc = KovRegFlushKey(key.Handle());
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot flush " + display));
    std::string text;
    Json j = ValueJson(name, type, data, &text);
    j.Set("key", display);
    j.Set("createdKey", disposition == VANTRO_REG_CREATED_NEW_KEY);
    if (ctx.out.IsJson()) return ctx.out.Done(j);
    ctx.out.Line(display + "\\" + (name.empty() ? "@" : name) + " (" + TypeText(type) + ") = " + text +
                 (disposition == VANTRO_REG_CREATED_NEW_KEY ? "  (new key)" : ""));
    return kExitOk;
}

int Delete(Context& ctx, const ParsedArgs& p, uint32_t root, const std::string& sub, const std::string& display) {
    if (p.positional.size() < 2 || p.positional.size() > 3) return ctx.out.Usage("reg delete KEY [NAME]");
    Json j = Json::Object();
    j.Set("key", display);
    if (p.positional.size() == 2) {
        if (sub.empty()) return ctx.out.Usage("a root key cannot be deleted");
        const uint32_t rc = KovRegDeleteKey(root, ToWide(sub).c_str());
        if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot delete " + display));
        ctx.out.Line("deleted " + display);
        return ctx.out.Done(j);
    }
    const std::string name = ValueNameOf(p.positional[2]);
    OpenKey key;
    uint32_t rc = key.Open(root, sub);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot open " + display));
    rc = KovRegDeleteValue(key.Handle(), ToWide(name).c_str());
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot delete " + display + "\\" + name));
    KovRegFlushKey(key.Handle());
    ctx.out.Line("deleted " + display + "\\" + (name.empty() ? "@" : name));
    j.Set("name", name);
    return ctx.out.Done(j);
}

int List(Context& ctx, const ParsedArgs& p, uint32_t root, const std::string& sub, const std::string& display) {
    OpenKey key;
    const uint32_t rc = key.Open(root, sub);
    if (rc != 0) return ctx.out.Fail(ResultFailure(rc, "cannot open " + display));
    Json values = Json::Array();
    Json missing = Json::Array();
    ctx.out.Line(display + ":");
    for (size_t i = 2; i < p.positional.size(); ++i) {
        const std::string name = ValueNameOf(p.positional[i]);
        uint32_t type = 0;
        std::vector<uint8_t> data;
        const uint32_t q = QueryValue(key.Handle(), name, &type, &data);
        if (q == VANTRO_ERROR_FILE_NOT_FOUND) {
            missing.Push(name);
            ctx.out.Line("  " + (name.empty() ? std::string("@") : name) + "  (not set)");
            continue;
        }
        if (q != 0) return ctx.out.Fail(ResultFailure(q, "cannot read " + display + "\\" + name));
        std::string text;
        values.Push(ValueJson(name, type, data, &text));
        ctx.out.Line("  " + (name.empty() ? std::string("@") : name) + " (" + TypeText(type) + ") = " + text);
    }
    if (p.positional.size() == 2) ctx.out.Line("  the key exists; name the values to read (reg list KEY NAME...)");
    Json j = Json::Object();
    j.Set("key", display);
    j.Set("exists", true);
    j.Set("values", values);
    j.Set("missing", missing);
    return ctx.out.Done(j);
}

}  // namespace

int CmdRegistry(Context& ctx, const std::vector<std::string>& args) {
    ArgSpec shape;
    shape.values.insert("--type");
    ParsedArgs p;
    std::string error;
    if (!ParseArgs(args, shape, &p, &error)) return ctx.out.Usage(error);
    if (p.positional.size() < 2) return ctx.out.Usage("reg get|set|delete|list KEY ...");
    uint32_t root = 0;
    std::string sub, display;
    if (!ParseKey(p.positional[1], &root, &sub, &display))
        return ctx.out.Usage("'" + p.positional[1] + "' does not start with HKLM, HKCU, HKCR or HKU");
    const std::string& verb = p.positional[0];
    if (verb == "get") return Get(ctx, p, root, sub, display);
    if (verb == "set") return Set(ctx, p, root, sub, display);
    if (verb == "delete") return Delete(ctx, p, root, sub, display);
    if (verb == "list") return List(ctx, p, root, sub, display);
    return ctx.out.Usage("unknown reg command '" + verb + "'");
}

}  // namespace cli
