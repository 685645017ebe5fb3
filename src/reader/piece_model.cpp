#include "reader/piece_model.h"

#include <algorithm>
#include <cstring>

namespace teilimp::reader {

std::array<char, 2> notch_label(NotchCode code) {
    switch (code) {
        case NotchCode::N1: return {'N', '1'};
        case NotchCode::N2: return {'N', '2'};
        case NotchCode::N: return {'N', ' '};
        case NotchCode::NL: return {'N', 'L'};
        case NotchCode::NK: return {'N', 'K'};
        case NotchCode::Digit1: return {'1', ' '};
        case NotchCode::Digit2: return {'2', ' '};
        case NotchCode::None: break;
    }
    return {' ', ' '};
}

bool notch_takes_direction(NotchCode code) {
    return code == NotchCode::N1 || code == NotchCode::N2 || code == NotchCode::Digit1 ||
           code == NotchCode::Digit2;
}

std::string field_text(const char* data, size_t n) {
    const void* nul = std::memchr(data, '\0', n);
    return std::string(data, nul == nullptr ? n : static_cast<size_t>(static_cast<const char*>(nul) - data));
}

namespace {

int first_line_of_type(const PieceModel& m, char type) {
    for (size_t i = 0; i < m.lines.size(); ++i)
        if (m.lines[i].type == type && m.lines[i].points.size() >= 2) return static_cast<int>(i);
    return -1;
}

}  // namespace

int grain_line(const PieceModel& m) { return first_line_of_type(m, 'G'); }

int mirror_line(const PieceModel& m) { return m.mirrored ? first_line_of_type(m, 'M') : -1; }

const ModelRule* rule_of(const PieceModel& m, const ModelPoint& p) {
    if (p.rule <= 0) return nullptr;
    const auto number = static_cast<int16_t>(p.rule);
    const auto it = std::find_if(m.rules.begin(), m.rules.end(),
                                 [number](const ModelRule& r) { return r.number == number; });
    return it == m.rules.end() ? nullptr : &*it;
}

Offset point_offset(const PieceModel& m, const ModelPoint& p, size_t size) {
    const ModelRule* r = rule_of(m, p);
    if (r == nullptr || size >= r->offsets.size()) return {};
    return r->offsets[size];
}

void set_inner_marks(PieceModel& m) {
    for (size_t k = 0; k < m.sizes.size(); ++k) m.sizes[k].inner = k != 0 && k + 1 != m.sizes.size();
}

}  // namespace teilimp::reader
