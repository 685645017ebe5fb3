#include "rul/rul_writer.h"

#include <cstdio>

#include "util/version.h"

namespace teilimp::rul {

namespace {

void line(std::string& out, const std::string& text) {
    out += text;
    out += "\r\n";
}

std::string pair_text(const reader::Offset& o, Units u) {
    char b[80];
    std::snprintf(b, sizeof b, "%10s,%10s", format_length(o.dx, u).c_str(), format_length(o.dy, u).c_str());
    return b;
}

}  // namespace

bool same_style(const reader::PieceModel& a, const reader::PieceModel& b) {
    if (a.baseSizeIndex != b.baseSizeIndex || a.sizes.size() != b.sizes.size()) return false;
    for (size_t k = 0; k < a.sizes.size(); ++k)
        if (a.sizes[k].name != b.sizes[k].name) return false;
    return true;
}

int32_t RuleNumbers::for_point(size_t piece, const reader::PieceModel& m, const reader::ModelPoint& p) const {
    const reader::ModelRule* r = reader::rule_of(m, p);
    if (r == nullptr || piece >= of.size()) return 0;
    const auto k = static_cast<size_t>(r - m.rules.data());
    return k < of[piece].size() ? of[piece][k] : 0;
}

RuleNumbers number_rules(const Style& style) {
    RuleNumbers n;
    int32_t next = 1;
    n.of.reserve(style.size());
    for (const reader::PieceModel* m : style) {
        std::vector<int32_t> numbers;
        numbers.reserve(m->rules.size());
        for (size_t k = 0; k < m->rules.size(); ++k) numbers.push_back(next++);
        n.of.push_back(std::move(numbers));
    }
    return n;
}

std::string write_rul(const Style& style, const RuleNumbers& numbers, const RulHeader& h) {
    std::string out;
    line(out, "ASTM/D13Proposal 1 Version: D 6673-04");
    line(out, "AUTHOR: " + escape_text(h.author));
    line(out, "PRODUCT: TEILIMP");
    line(out, "VERSION: " + std::string(util::version()));
    line(out, "CREATION DATE: " + exchange_date(h.created));
    line(out, "CREATION TIME: " + exchange_time(h.created));
    line(out, std::string("UNITS: ") + units_keyword(h.units));
    line(out, "GRADE RULE TABLE: " + escape_text(h.tableName));
    const reader::PieceModel* first = style.empty() ? nullptr : style.front();
    const size_t sizeCount = first != nullptr ? first->sizes.size() : 0;
    line(out, "NUMBER OF SIZES: " + std::to_string(sizeCount));
    std::string list = "SIZE LIST: ";
    for (size_t k = 0; k < sizeCount; ++k) list += " " + escape_token(reader::field_text(first->sizes[k].name));
    line(out, list);
    if (first != nullptr && static_cast<size_t>(first->baseSizeIndex) < sizeCount)
        line(out, "SAMPLE SIZE: " + escape_token(reader::field_text(first->sizes[first->baseSizeIndex].name)));
    for (size_t p = 0; p < style.size(); ++p) {
        const reader::PieceModel& m = *style[p];
        for (size_t r = 0; r < m.rules.size(); ++r) {
            line(out, "RULE: DELTA " + std::to_string(numbers.of[p][r]));
            std::string row;
            const auto& offsets = m.rules[r].offsets;
            for (size_t s = 0; s < offsets.size(); ++s) {
                row += (s % 4 == 0 ? "" : " ") + pair_text(offsets[s], h.units);
                if (s % 4 == 3 || s + 1 == offsets.size()) {
                    line(out, row);
                    row.clear();
                }
            }
        }
    }
    line(out, "END");
    return out;
}

}  // namespace teilimp::rul
