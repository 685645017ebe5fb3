// Text for the three outputs of the tool: console lines (code page 850),
// JSON and SVG. Texts from the area's files are taken as code page 850,
// as the console shows them; JSON and SVG are written in plain ASCII with
// escapes for every other character, so they are valid UTF-8 wherever
// they go.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace teilimp::area_tool {

// A quoted JSON string; appended to `out` (a listing of many entries is
// built in one string).
std::string json_string(std::string_view cp850);
void append_json_string(std::string& out, std::string_view cp850);
// Text for XML content or attribute values.
std::string xml_text(std::string_view cp850);
// Text for a console line: control characters shown as '?'.
std::string console_text(std::string_view cp850);

}  // namespace teilimp::area_tool
