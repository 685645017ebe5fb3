// The RUL file of one style (the grade rules of ASTM D6673 and AAMA-DXF)
// and the numbering of the rules that the DXF file of the style shares.
// Written piece by piece into a text the caller empties as it likes, so
// that a style of any number of pieces needs the memory of one.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "reader/piece_model.h"
#include "rul/exchange_text.h"

namespace teilimp::rul {

// Pieces form one style, one size list and one base size, when their size
// names and base size index agree.
bool same_style(const reader::PieceModel& a, const reader::PieceModel& b);

// The rule numbers of a file run 1, 2, 3, ... over every rule of every
// piece, in piece order and within a piece in the image's order, so that
// the "# n" texts of the DXF and the "RULE: DELTA n" of the RUL agree, also
// where two pieces (or two rules of one piece) carry the same number. A
// piece's rules start at `firstRule` (1 for the first piece, then the
// previous piece's first plus its rule count).
//
// The file's number of the rule a point moves with; 0 when it has none.
int64_t rule_number(const reader::PieceModel& m, const reader::ModelPoint& p, int64_t firstRule);

struct RulHeader {
    std::string author;        // who wrote it (the program and its version)
    std::string tableName;     // GRADE RULE TABLE: the RUL file's own name
    platform::CalendarTime created;
    Units units = Units::Mm;
};

// The RUL text (CR LF line ends, 7-bit): the header lines with the size
// list of `style` (any piece of the style), then for each piece
// rul_rules, then rul_end. Each rule is one "RULE: DELTA n" with one
// "dx, dy" pair per size in size-list order, relative to the base size
// (its pair 0, 0), four pairs a line. Size names are escaped tokens
// (escape_token), so a list of names with blanks or letters outside ASCII
// can still be read back name by name.
void rul_begin(std::string& out, const RulHeader& h, const reader::PieceModel& style);
void rul_rules(std::string& out, const reader::PieceModel& m, int64_t firstRule, Units u);
void rul_end(std::string& out);

}  // namespace teilimp::rul
