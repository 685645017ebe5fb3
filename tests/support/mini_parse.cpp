#include "support/mini_parse.h"

#include <cctype>
#include <cstdlib>

namespace teilimp::testing {

namespace {

struct Json {
    const std::string& s;
    size_t i = 0;

    void ws() {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    }
    bool lit(const char* word) {
        const std::string w(word);
        if (s.compare(i, w.size(), w) != 0) return false;
        i += w.size();
        return true;
    }
    static void utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool str(std::string& out) {
        if (i >= s.size() || s[i] != '"') return false;
        for (++i; i < s.size(); ++i) {
            const char c = s[i];
            if (c == '"') {
                ++i;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (++i >= s.size()) return false;
            switch (s[i]) {
                case '"': case '\\': case '/': out += s[i]; break;
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    if (i + 4 >= s.size()) return false;
                    const std::string hex = s.substr(i + 1, 4);
                    if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
                    utf8(out, static_cast<unsigned>(std::strtoul(hex.c_str(), nullptr, 16)));
                    i += 4;
                    break;
                }
                default: return false;
            }
        }
        return false;
    }
    bool value(JsonValue& v) {
        ws();
        if (i >= s.size()) return false;
        const char c = s[i];
        if (c == '{') {
            v.type = JsonValue::Type::Object;
            ++i;
            ws();
            if (i < s.size() && s[i] == '}') return ++i, true;
            for (;;) {
                ws();
                std::string key;
                if (!str(key)) return false;
                ws();
                if (i >= s.size() || s[i++] != ':') return false;
                if (!value(v.object[key])) return false;
                ws();
                if (i < s.size() && s[i] == ',') { ++i; continue; }
                if (i < s.size() && s[i] == '}') return ++i, true;
                return false;
            }
        }
        if (c == '[') {
            v.type = JsonValue::Type::Array;
            ++i;
            ws();
            if (i < s.size() && s[i] == ']') return ++i, true;
            for (;;) {
                v.array.emplace_back();
                if (!value(v.array.back())) return false;
                ws();
                if (i < s.size() && s[i] == ',') { ++i; continue; }
                if (i < s.size() && s[i] == ']') return ++i, true;
                return false;
            }
        }
        if (c == '"') {
            v.type = JsonValue::Type::String;
            return str(v.string);
        }
        if (lit("true")) { v.type = JsonValue::Type::Bool; v.boolean = true; return true; }
        if (lit("false")) { v.type = JsonValue::Type::Bool; return true; }
        if (lit("null")) return true;
        const char* begin = s.c_str() + i;
        char* end = nullptr;
        v.number = std::strtod(begin, &end);
        if (end == begin) return false;
        v.type = JsonValue::Type::Number;
        i += static_cast<size_t>(end - begin);
        return true;
    }
};

struct Xml {
    const std::string& s;
    size_t i = 0;

    bool starts(const char* w) const { return s.compare(i, std::char_traits<char>::length(w), w) == 0; }
    void ws() {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    }
    bool skip_to(const char* end) {
        const size_t at = s.find(end, i);
        if (at == std::string::npos) return false;
        i = at + std::char_traits<char>::length(end);
        return true;
    }
    bool name(std::string& out) {
        const size_t start = i;
        while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '-' || s[i] == '_' ||
                                s[i] == ':' || s[i] == '.'))
            ++i;
        out = s.substr(start, i - start);
        return !out.empty();
    }
    // Resolves the five named entities and numeric references; a lone '&'
    // or '<' is an error.
    bool text(const std::string& raw, std::string& out) {
        for (size_t k = 0; k < raw.size(); ++k) {
            if (raw[k] == '<') return false;
            if (raw[k] != '&') {
                out += raw[k];
                continue;
            }
            const size_t semi = raw.find(';', k);
            if (semi == std::string::npos) return false;
            const std::string ent = raw.substr(k + 1, semi - k - 1);
            if (ent == "amp") out += '&';
            else if (ent == "lt") out += '<';
            else if (ent == "gt") out += '>';
            else if (ent == "quot") out += '"';
            else if (ent == "apos") out += '\'';
            else if (ent.size() > 1 && ent[0] == '#' && ent.find_first_not_of("0123456789", 1) == std::string::npos)
                Json::utf8(out, static_cast<unsigned>(std::strtoul(ent.c_str() + 1, nullptr, 10)));
            else return false;
            k = semi;
        }
        return true;
    }
    std::shared_ptr<XmlElement> element() {
        if (i >= s.size() || s[i] != '<') return nullptr;
        ++i;
        auto e = std::make_shared<XmlElement>();
        if (!name(e->name)) return nullptr;
        for (;;) {
            ws();
            if (starts("/>")) {
                i += 2;
                return e;
            }
            if (starts(">")) {
                ++i;
                break;
            }
            std::string key;
            if (!name(key)) return nullptr;
            ws();
            if (i >= s.size() || s[i++] != '=') return nullptr;
            ws();
            if (i >= s.size() || (s[i] != '"' && s[i] != '\'')) return nullptr;
            const char q = s[i++];
            const size_t end = s.find(q, i);
            if (end == std::string::npos || e->attributes.count(key) != 0) return nullptr;
            if (!text(s.substr(i, end - i), e->attributes[key])) return nullptr;
            i = end + 1;
        }
        for (;;) {
            const size_t lt = s.find('<', i);
            if (lt == std::string::npos) return nullptr;
            if (!text(s.substr(i, lt - i), e->text)) return nullptr;
            i = lt;
            if (starts("</")) {
                i += 2;
                std::string closing;
                if (!name(closing) || closing != e->name) return nullptr;
                ws();
                if (i >= s.size() || s[i++] != '>') return nullptr;
                return e;
            }
            if (starts("<!--")) {
                if (!skip_to("-->")) return nullptr;
                continue;
            }
            auto child = element();
            if (!child) return nullptr;
            e->children.push_back(child);
        }
    }
};

void collect(const XmlElement& e, const std::string& name, std::vector<const XmlElement*>& out) {
    if (e.name == name) out.push_back(&e);
    for (const auto& c : e.children) collect(*c, name, out);
}

}  // namespace

std::optional<JsonValue> parse_json(const std::string& text) {
    Json p{text};
    JsonValue v;
    if (!p.value(v)) return std::nullopt;
    p.ws();
    if (p.i != text.size()) return std::nullopt;
    return v;
}

std::shared_ptr<XmlElement> parse_xml(const std::string& text) {
    Xml p{text};
    p.ws();
    if (p.starts("<?xml") && !p.skip_to("?>")) return nullptr;
    p.ws();
    auto root = p.element();
    if (!root) return nullptr;
    p.ws();
    return p.i == text.size() ? root : nullptr;
}

std::vector<const XmlElement*> find_all(const XmlElement& root, const std::string& name) {
    std::vector<const XmlElement*> out;
    collect(root, name, out);
    return out;
}

}  // namespace teilimp::testing
