#include "Tools/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cli {

Json::Json(double value) {
    if (!std::isfinite(value)) return;  // null
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    m_type = Type::Number;
    m_text = text;
}

Json& Json::Push(Json value) {
    if (m_type == Type::Null) m_type = Type::Array;
    m_items.emplace_back(std::string(), std::move(value));
    return *this;
}

Json& Json::Set(const std::string& key, Json value) {
    if (m_type == Type::Null) m_type = Type::Object;
    for (auto& item : m_items) {
        if (item.first == key) {
            item.second = std::move(value);
            return *this;
        }
    }
    m_items.emplace_back(key, std::move(value));
    return *this;
}

const Json* Json::Find(const std::string& key) const {
    for (const auto& item : m_items)
        if (item.first == key) return &item.second;
    return nullptr;
}

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out += "\"";
    return out;
}

std::string Json::Dump(int indent) const {
    std::string out;
    DumpTo(out, indent, 0);
    return out;
}

void Json::DumpTo(std::string& out, int indent, int level) const {
    switch (m_type) {
        case Type::Null: out += "null"; return;
        case Type::Bool:
        case Type::Number: out += m_text; return;
        case Type::String: out += JsonQuote(m_text); return;
        case Type::Array:
        case Type::Object: break;
    }
    const bool object = m_type == Type::Object;
    out.push_back(object ? '{' : '[');
    if (m_items.empty()) {
        out.push_back(object ? '}' : ']');
        return;
    }
    const std::string pad = indent < 0 ? std::string() : std::string(static_cast<size_t>(indent * (level + 1)), ' ');
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (i) out.push_back(',');
        if (indent >= 0) {
            out.push_back('\n');
            out += pad;
        }
        if (object) {
            out += JsonQuote(m_items[i].first);
            out += indent < 0 ? ":" : ": ";
        }
        m_items[i].second.DumpTo(out, indent, level + 1);
    }
    if (indent >= 0) {
        out.push_back('\n');
        out += std::string(static_cast<size_t>(indent * level), ' ');
    }
    out.push_back(object ? '}' : ']');
}

double Json::Number() const { return m_type == Type::Number ? std::strtod(m_text.c_str(), nullptr) : 0.0; }

// A recursive-descent reader of JSON texts.
class JsonParser {
public:
    explicit JsonParser(const std::string& text) : m_s(text) {}

    bool Document(Json* out) {
        if (!Value(out, 0)) return false;
        Blanks();
        return m_at == m_s.size();
    }

private:
    void Blanks() {
        while (m_at < m_s.size() && (m_s[m_at] == ' ' || m_s[m_at] == '\n' || m_s[m_at] == '\r' || m_s[m_at] == '\t'))
            ++m_at;
    }
    bool Literal(const char* word) {
        const size_t n = std::strlen(word);
        if (m_s.compare(m_at, n, word) != 0) return false;
        m_at += n;
        return true;
    }
    bool String(std::string* out) {
        if (m_at >= m_s.size() || m_s[m_at] != '"') return false;
        ++m_at;
        while (m_at < m_s.size()) {
            const char c = m_s[m_at++];
            if (c == '"') return true;
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (m_at >= m_s.size()) return false;
            const char e = m_s[m_at++];
            switch (e) {
                case 'n': out->push_back('\n'); break;
                case 'r': out->push_back('\r'); break;
                case 't': out->push_back('\t'); break;
                case 'b': out->push_back('\b'); break;
                case 'f': out->push_back('\f'); break;
                case 'u': {
                    if (m_at + 4 > m_s.size()) return false;
                    const unsigned long cp = std::strtoul(m_s.substr(m_at, 4).c_str(), nullptr, 16);
                    m_at += 4;
                    if (cp < 0x80) {
                        out->push_back(static_cast<char>(cp));
                    } else if (cp < 0x800) {
                        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
                        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                    } else {
                        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
                        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                    }
                    break;
                }
                default: out->push_back(e); break;
            }
        }
        return false;
    }
    bool Value(Json* out, int depth) {
        if (depth > 64) return false;
        Blanks();
        if (m_at >= m_s.size()) return false;
        const char c = m_s[m_at];
        if (c == '{' || c == '[') {
            const bool object = c == '{';
            *out = object ? Json::Object() : Json::Array();
            ++m_at;
            Blanks();
            if (m_at < m_s.size() && m_s[m_at] == (object ? '}' : ']')) {
                ++m_at;
                return true;
            }
            for (;;) {
                std::string key;
                if (object) {
                    Blanks();
                    if (!String(&key)) return false;
                    Blanks();
                    if (m_at >= m_s.size() || m_s[m_at++] != ':') return false;
                }
                Json item;
                if (!Value(&item, depth + 1)) return false;
                if (object)
                    out->Set(key, item);
                else
                    out->Push(item);
                Blanks();
                if (m_at >= m_s.size()) return false;
                const char next = m_s[m_at++];
                if (next == ',') continue;
                return next == (object ? '}' : ']');
            }
        }
        if (c == '"') {
            std::string text;
            if (!String(&text)) return false;
            *out = Json(text);
            return true;
        }
        if (Literal("true")) {
            *out = Json(true);
            return true;
        }
        if (Literal("false")) {
            *out = Json(false);
            return true;
        }
        if (Literal("null")) {
            *out = Json();
            return true;
        }
        const size_t start = m_at;
        while (m_at < m_s.size() && std::strchr("+-0123456789.eE", m_s[m_at])) ++m_at;
        if (m_at == start) return false;
        *out = Json(Json::Type::Number);
        out->m_text = m_s.substr(start, m_at - start);
        return true;
    }

    const std::string& m_s;
    size_t m_at = 0;
};

bool Json::Parse(const std::string& text, Json* out) {
    JsonParser parser(text);
    Json value;
    if (!parser.Document(&value)) return false;
    *out = value;
    return true;
}

}  // namespace cli
