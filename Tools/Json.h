// A small JSON value for the tool's --json output: objects keep the order in
// which their keys were set.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace cli {

class Json {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Json() = default;
    Json(bool value) : m_type(Type::Bool), m_text(value ? "true" : "false") {}
    template <class T, typename std::enable_if<std::is_integral<T>::value && !std::is_same<T, bool>::value,
                                               int>::type = 0>
    Json(T value) : m_type(Type::Number), m_text(std::to_string(value)) {}
    Json(double value);
    Json(const char* value) : m_type(Type::String), m_text(value ? value : "") {}
    Json(std::string value) : m_type(Type::String), m_text(std::move(value)) {}

    static Json Array() { return Json(Type::Array); }
    static Json Object() { return Json(Type::Object); }

    Type type() const { return m_type; }
    // Arrays: appends. Objects: sets a key (replacing an earlier value).
    Json& Push(Json value);
    Json& Set(const std::string& key, Json value);
    // Objects: the value of a key, null when missing.
    const Json* Find(const std::string& key) const;
    size_t Size() const { return m_items.size(); }
    const Json& At(size_t i) const { return m_items[i].second; }
    const std::string& KeyAt(size_t i) const { return m_items[i].first; }
    // Numbers, strings and booleans as written in the output.
    const std::string& Text() const { return m_text; }

    // Parses a JSON document (as Dump writes them); false when it is not one.
    static bool Parse(const std::string& text, Json* out);
    // Numbers as values.
    double Number() const;
    bool IsTrue() const { return m_type == Type::Bool && m_text == "true"; }

    // Indented by two spaces per level; indent < 0: all on one line.
    std::string Dump(int indent = 2) const;

private:
    friend class JsonParser;
    explicit Json(Type type) : m_type(type) {}
    void DumpTo(std::string& out, int indent, int level) const;

    Type m_type = Type::Null;
    std::string m_text;
    std::vector<std::pair<std::string, Json>> m_items;
};

// A text as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);

}  // namespace cli
