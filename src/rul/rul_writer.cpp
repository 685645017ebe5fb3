#include "rul/rul_writer.h"

#include "util/version.h"

namespace teilimp::rul {

namespace {

void line(std::string& out, const std::string& text) {
    out += text;
    out += "\r\n";
}

void append_right(std::string& out, int64_t v, Units u) {
    std::string value;
    append_length(value, v, u);
    if (value.size() < 10) out.append(10 - value.size(), ' ');
    out += value;
}

// One "dx, dy" pair, each right-aligned in ten columns.
void append_pair(std::string& out, const reader::Offset& o, Units u) {
    append_right(out, o.dx, u);
    out += ',';
    append_right(out, o.dy, u);
}

}  // namespace

bool same_style(const reader::PieceModel& a, const reader::PieceModel& b) {
    if (a.baseSizeIndex != b.baseSizeIndex || a.sizes.size() != b.sizes.size()) return false;
    for (size_t k = 0; k < a.sizes.size(); ++k)
        if (a.sizes[k].name != b.sizes[k].name) return false;
    return true;
}

int64_t rule_number(const reader::PieceModel& m, const reader::ModelPoint& p, int64_t firstRule) {
    const reader::ModelRule* r = reader::rule_of(m, p);
    return r == nullptr ? 0 : firstRule + (r - m.rules.data());
}

void rul_begin(std::string& out, const RulHeader& h, const reader::PieceModel& style) {
    line(out, "ASTM/D13Proposal 1 Version: D 6673-04");
    line(out, "AUTHOR: " + escape_text(h.author));
    line(out, "PRODUCT: TEILIMP");
    line(out, "VERSION: " + std::string(util::version()));
    line(out, "CREATION DATE: " + exchange_date(h.created));
    line(out, "CREATION TIME: " + exchange_time(h.created));
    line(out, std::string("UNITS: ") + units_keyword(h.units));
    line(out, "GRADE RULE TABLE: " + escape_text(h.tableName));
    line(out, "NUMBER OF SIZES: " + std::to_string(style.sizes.size()));
    std::string list = "SIZE LIST: ";
    for (const reader::ModelSize& s : style.sizes) list += " " + escape_token(reader::field_text(s.name));
    line(out, list);
    const auto base = static_cast<size_t>(style.baseSizeIndex);
    if (base < style.sizes.size()) line(out, "SAMPLE SIZE: " + escape_token(reader::field_text(style.sizes[base].name)));
}

void rul_rules(std::string& out, const reader::PieceModel& m, int64_t firstRule, Units u) {
    for (size_t r = 0; r < m.rules.size(); ++r) {
        line(out, "RULE: DELTA " + std::to_string(firstRule + static_cast<int64_t>(r)));
        const auto& offsets = m.rules[r].offsets;
        for (size_t s = 0; s < offsets.size(); ++s) {
            if (s % 4 != 0) out += ' ';
            append_pair(out, offsets[s], u);
            if (s % 4 == 3 || s + 1 == offsets.size()) out += "\r\n";
        }
    }
}

void rul_end(std::string& out) { line(out, "END"); }

}  // namespace teilimp::rul
