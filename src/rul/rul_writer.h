// The RUL file of one style (the grade rules of ASTM D6673 and AAMA-DXF)
// and the numbering of the rules that the DXF file of the style shares.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "reader/piece_model.h"
#include "rul/exchange_text.h"

namespace teilimp::rul {

// The pieces of one style: one size list and one base size. All pieces of
// a style have the same size names and base size index (same_style).
using Style = std::vector<const reader::PieceModel*>;

bool same_style(const reader::PieceModel& a, const reader::PieceModel& b);

// The rule numbers of a file: every rule of every piece, in piece order and
// within a piece in the image's order, numbered 1, 2, 3, ... so that the
// "# n" texts of the DXF and the "RULE: DELTA n" of the RUL agree, also
// where two pieces (or two rules of one piece) carry the same number.
struct RuleNumbers {
    std::vector<std::vector<int32_t>> of;  // [piece][rule]

    // The file's number of the rule a point moves with; 0 when it has none.
    int32_t for_point(size_t piece, const reader::PieceModel& m, const reader::ModelPoint& p) const;
};
RuleNumbers number_rules(const Style& style);

struct RulHeader {
    std::string author;        // who wrote it (the program and its version)
    std::string tableName;     // GRADE RULE TABLE: the RUL file's own name
    platform::CalendarTime created;
    Units units = Units::Mm;
};

// The RUL text (CR LF line ends, 7-bit): the header lines, one RULE: DELTA
// per rule with one "dx, dy" pair per size in size-list order, relative to
// the base size (its pair 0, 0), four pairs a line, then END. Size names are
// escaped tokens (escape_token), so a list of names with blanks or letters
// outside ASCII can still be read back name by name.
std::string write_rul(const Style& style, const RuleNumbers& numbers, const RulHeader& header);

}  // namespace teilimp::rul
