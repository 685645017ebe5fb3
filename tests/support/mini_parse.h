// Small parsers for the tests of the tool's JSON and SVG output: strict
// enough to refuse what is not well-formed, no more.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace teilimp::testing {

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;  // UTF-8
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;

    const JsonValue& operator[](const std::string& key) const { return object.at(key); }
    const JsonValue& operator[](size_t i) const { return array.at(i); }
};

// The value, or nullopt when the text is not one JSON value.
std::optional<JsonValue> parse_json(const std::string& text);

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;  // entities resolved
    std::vector<std::shared_ptr<XmlElement>> children;
    std::string text;
};

// The root element, or nullptr when the text is not well-formed XML.
std::shared_ptr<XmlElement> parse_xml(const std::string& text);
// Every element of that name below (and including) `root`, in document order.
std::vector<const XmlElement*> find_all(const XmlElement& root, const std::string& name);

}  // namespace teilimp::testing
