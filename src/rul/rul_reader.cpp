#include "rul/rul_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "rul/read_text.h"

namespace teilimp::rul {

namespace {

using exchange::istarts_with;
using exchange::trim;

bool is_separator(char c) { return exchange::is_blank(c) || c == ','; }

// Calls take(token) for each word of the line, words being separated by
// blanks and commas.
template <typename Take>
void for_each_word(std::string_view line, Take take) {
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_separator(line[i])) ++i;
        size_t j = i;
        while (j < line.size() && !is_separator(line[j])) ++j;
        if (j > i) take(line.substr(i, j - i));
        i = j;
    }
}

// The numbers of a line of values, each word read as parse_decimal reads
// it (a plain one as it is found); a word that is none makes the rule
// unreadable.
void for_each_number(std::string_view line, std::vector<double>& values, Rule& rule) {
    const char* p = line.data();
    const char* const end = p + line.size();
    constexpr uint64_t kBlanks = 0x2020202020202020ull;
    while (p != end) {
        for (uint64_t w = 0; end - p >= 8; p += 8) {  // runs of blanks, eight at a time
            std::memcpy(&w, p, 8);
            if (w != kBlanks) break;
        }
        while (p != end && is_separator(*p)) ++p;
        if (p == end) break;
        double v = 0;
        const char* q = exchange::detail::decimal_prefix(p, end, v);
        if (q == nullptr || (q != end && !is_separator(*q))) {
            q = p;
            while (q != end && !is_separator(*q)) ++q;
            if (!exchange::parse_decimal(std::string_view(p, static_cast<size_t>(q - p)), v)) {
                rule.readable = false;
                p = q;
                continue;
            }
        }
        values.push_back(v);
        p = q;
    }
}

std::string_view after_colon(std::string_view line) {
    const size_t colon = line.find(':');
    return trim(line.substr(colon + 1));
}

// "RULE: DELTA 12", also "RULE:DELTA12" and "RULE: 12".
bool rule_number(std::string_view line, int32_t& n) {
    std::string_view rest = after_colon(line);
    if (istarts_with(rest, "DELTA")) rest.remove_prefix(5);
    return exchange::parse_int(rest, n);
}

}  // namespace

const Rule* RuleTable::find(int32_t n) const {
    const Rule* r = nullptr;
    if (byNumber.size() == rules.size()) {
        const auto it = std::lower_bound(byNumber.begin(), byNumber.end(), n,
                                         [&](uint32_t i, int32_t v) { return rules[i].number < v; });
        if (it != byNumber.end() && rules[*it].number == n) r = &rules[*it];
    } else {
        const auto it = std::find_if(rules.begin(), rules.end(), [&](const Rule& x) { return x.number == n; });
        if (it != rules.end()) r = &*it;
    }
    if (!r || !r->readable || r->deltas.size() != sizes.size()) return nullptr;
    return r;
}

int32_t RuleTable::sample_index() const {
    for (size_t i = 0; i < sizes.size(); ++i)
        if (sizes[i] == sampleSize) return static_cast<int32_t>(i);
    return -1;
}

ReadStatus parse_rul(std::span<const uint8_t> bytes, RuleTable& out) {
    out = RuleTable{};
    if (bytes.size() > kMaxRulBytes) return ReadStatus::TooLarge;
    exchange::LineCursor lines(bytes);
    std::string_view raw;
    // Values are gathered as single numbers and paired at the end of a rule,
    // so that a pair may run over a line end.
    std::vector<double> values;
    Rule* rule = nullptr;
    auto close_rule = [&] {
        if (!rule) return;
        if (values.size() % 2 != 0) rule->readable = false;
        rule->deltas.reserve(values.size() / 2);
        for (size_t i = 0; i + 1 < values.size(); i += 2)
            rule->deltas.push_back(Delta{values[i], values[i + 1]});
        values.clear();
        rule = nullptr;
    };
    while (lines.next(raw)) {
        const std::string_view line = trim(raw);
        if (line.empty()) continue;
        if (line.find(':') == std::string_view::npos) {
            if (exchange::iequals(line, "END")) break;
            if (!rule) continue;
            for_each_number(line, values, *rule);
            continue;
        }
        close_rule();
        if (istarts_with(line, "RULE")) {
            int32_t n = 0;
            if (!rule_number(line, n)) continue;
            out.rules.push_back(Rule{n, true, {}});
            rule = &out.rules.back();
        } else if (istarts_with(line, "SIZE LIST")) {
            out.sizes.clear();
            for_each_word(after_colon(line), [&](std::string_view w) { out.sizes.emplace_back(w); });
        } else if (istarts_with(line, "SAMPLE SIZE")) {
            out.sampleSize = std::string(after_colon(line));
        } else if (istarts_with(line, "NUMBER OF SIZES")) {
            int32_t n = -1;
            if (exchange::parse_int(after_colon(line), n) && n >= 0) out.numberOfSizes = n;
        } else if (istarts_with(line, "UNITS")) {
            const std::string_view u = after_colon(line);
            if (istarts_with(u, "METRIC")) out.units = TableUnits::Millimetre;
            else if (istarts_with(u, "ENGLISH")) out.units = TableUnits::Inch;
        }
    }
    close_rule();
    out.byNumber.resize(out.rules.size());
    for (size_t i = 0; i < out.rules.size(); ++i) out.byNumber[i] = static_cast<uint32_t>(i);
    std::stable_sort(out.byNumber.begin(), out.byNumber.end(),
                     [&](uint32_t a, uint32_t b) { return out.rules[a].number < out.rules[b].number; });
    return out.sizes.empty() ? ReadStatus::NoSizeList : ReadStatus::Ok;
}

ReadStatus read_rul(std::string_view path, RuleTable& out) {
    out = RuleTable{};
    platform::File file = platform::open_file(path, platform::OpenMode::Read);
    if (!file.is_open()) return ReadStatus::CannotOpen;
    const int64_t size = platform::file_size(file);
    if (size < 0) return ReadStatus::CannotOpen;
    if (static_cast<uint64_t>(size) > kMaxRulBytes) return ReadStatus::TooLarge;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0 && !platform::read_exact(file, bytes.data(), bytes.size()))
        return ReadStatus::CannotOpen;
    return parse_rul(bytes, out);
}

}  // namespace teilimp::rul
