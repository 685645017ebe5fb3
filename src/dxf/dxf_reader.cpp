// ASCII DXF: group code and value on alternate lines. Only the sections the
// exchange formats fill are taken apart (HEADER for the units, BLOCKS,
// ENTITIES); every other section is passed over pair by pair.
#include "dxf/dxf_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/platform.h"
#include "rul/read_text.h"

namespace teilimp::dxf {

namespace {

using exchange::iequals;
using exchange::trim;

// The values of group 0 the reader acts on.
enum class Zero : uint8_t {
    Other, Section, EndSec, Eof, Block, EndBlk,
    Vertex, SeqEnd, Polyline, LwPolyline, Line, Point, Text, MText,
};

struct Pair {
    int32_t code = 0;
    std::string_view value;
    Zero zero = Zero::Other;  // code 0: what the value names (trimmed, any case)
    bool hasNumber = false;   // a coordinate's value read as it was split off
    double number = 0;
};

// One test of the length and the first letter, then the name.
Zero zero_of(std::string_view t) {
    auto is = [&](std::string_view name, Zero z) { return iequals(t, name) ? z : Zero::Other; };
    switch (t.size()) {
    case 3: return is("EOF", Zero::Eof);
    case 4:
        switch (exchange::upper_ascii(t[0])) {
        case 'L': return is("LINE", Zero::Line);
        case 'T': return is("TEXT", Zero::Text);
        default: return Zero::Other;
        }
    case 5:
        switch (exchange::upper_ascii(t[0])) {
        case 'B': return is("BLOCK", Zero::Block);
        case 'P': return is("POINT", Zero::Point);
        case 'M': return is("MTEXT", Zero::MText);
        default: return Zero::Other;
        }
    case 6:
        switch (exchange::upper_ascii(t[0])) {
        case 'V': return is("VERTEX", Zero::Vertex);
        case 'S': return is("SEQEND", Zero::SeqEnd);
        case 'E': return iequals(t, "ENDSEC") ? Zero::EndSec : is("ENDBLK", Zero::EndBlk);
        default: return Zero::Other;
        }
    case 7: return is("SECTION", Zero::Section);
    case 8: return is("POLYLINE", Zero::Polyline);
    case 10: return is("LWPOLYLINE", Zero::LwPolyline);
    default: return Zero::Other;
    }
}

enum class Next : uint8_t { Pair, End, Fault };

// A group code line, trimmed and not empty: what exchange::parse_int
// takes (a '+', then a '-', then digits), read here by hand since it runs
// for every pair; a value beyond the codes is kept at 1,000,000 or more.
bool group_code(std::string_view s, int32_t& code) {
    size_t i = 0;
    if (s[i] == '+') ++i;
    const bool negative = i < s.size() && s[i] == '-';
    if (negative) ++i;
    if (i == s.size()) return false;
    int32_t v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c < '0' || c > '9') return false;
        if (v < 100000) v = v * 10 + (c - '0');
    }
    code = negative ? -v : v;
    return true;
}

// A group code line as most writers write it, three bytes wide: "  8",
// " 10", "100"; false (nothing taken) for any other line.
[[gnu::always_inline]] inline bool short_group_code(exchange::LineCursor& lines, int32_t& code) {
    const std::string_view r = lines.rest();
    if (r.size() < 4 || (r[3] != '\n' && r[3] != '\r') || !exchange::detail::is_digit(r[2])) return false;
    int32_t v = r[2] - '0';
    if (exchange::detail::is_digit(r[1])) {
        v += 10 * (r[1] - '0');
        if (exchange::detail::is_digit(r[0])) v += 100 * (r[0] - '0');
        else if (r[0] != ' ') return false;
    } else if (r[1] != ' ' || r[0] != ' ') {
        return false;
    }
    code = v;
    lines.skip_line(3);
    return true;
}

// Numbers: false where the pair's value is of no use (an entity passed
// over), so that its coordinates are only split off, not read.
template <bool Numbers = true>
Next next_pair(exchange::LineCursor& lines, Pair& pair) {
    pair.hasNumber = false;
    if (short_group_code(lines, pair.code)) {
        // Coordinates (10-39) are most of the values: where one is short,
        // its line is split off and read in one.
        size_t length = 0;
        if (Numbers && pair.code >= 10 && pair.code <= 39 &&
            exchange::detail::short_number_line(lines.rest(), pair.number, length)) {
            pair.hasNumber = true;
            pair.value = std::string_view(lines.rest().data(), length);
            lines.skip_line(length);
            return Next::Pair;
        }
        return lines.next(pair.value) ? Next::Pair : Next::Fault;
    }
    std::string_view codeLine;
    // Blank lines before the first group code (and between pairs, which some
    // writers leave at the end) are not pairs.
    do {
        if (!lines.next(codeLine)) return Next::End;
        codeLine = trim(codeLine);
    } while (codeLine.empty());
    if (!group_code(codeLine, pair.code) || pair.code < -5 || pair.code > 1071) return Next::Fault;
    return lines.next(pair.value) ? Next::Pair : Next::Fault;
}

// Group 0 values as most files write them, upper-case and nothing around
// them, are told by one look-up: their bytes as a number (the first byte
// lowest), times a constant under which each of them has a slot of its own
// (found by trying; building the table fails to compile where two names
// share a slot).
constexpr uint64_t word_of(std::string_view name) {
    uint64_t w = 0;
    for (size_t i = 0; i < name.size(); ++i) w |= uint64_t{static_cast<uint8_t>(name[i])} << (8 * i);
    return w;
}
constexpr uint64_t kZeroHash = 0x11180cd942fe9ca9ull;
constexpr size_t zero_slot(uint64_t word) { return static_cast<size_t>((word * kZeroHash) >> 60); }
struct ZeroSlot {
    uint64_t word = 0;
    Zero zero = Zero::Other;
};
constexpr std::array<ZeroSlot, 16> kZeroSlots = [] {
    constexpr std::pair<std::string_view, Zero> names[] = {
        {"EOF", Zero::Eof},       {"LINE", Zero::Line},       {"TEXT", Zero::Text},       {"BLOCK", Zero::Block},
        {"POINT", Zero::Point},   {"MTEXT", Zero::MText},     {"VERTEX", Zero::Vertex},   {"SEQEND", Zero::SeqEnd},
        {"ENDSEC", Zero::EndSec}, {"ENDBLK", Zero::EndBlk},   {"SECTION", Zero::Section}, {"POLYLINE", Zero::Polyline},
    };
    std::array<ZeroSlot, 16> slots{};
    for (const auto& [name, zero] : names) {
        ZeroSlot& s = slots[zero_slot(word_of(name))];
        if (s.zero != Zero::Other) throw "two names in one slot";
        s = {word_of(name), zero};
    }
    return slots;
}();

// The next pair, a group 0's value classified.
template <bool Numbers = true>
Next next_pair_typed(exchange::LineCursor& lines, Pair& pair) {
    const Next n = next_pair<Numbers>(lines, pair);
    if (n != Next::Pair || pair.code != 0) return n;
    const std::string_view v = pair.value;
    const std::string_view rest = lines.rest();
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes from the value on, within the bytes: the value's own
        // and zeros. A match is the name followed by nothing but NULs,
        // which trimming drops.
        if (!v.empty() && v.size() <= 8 && rest.data() + rest.size() - v.data() >= 8) {
            uint64_t w = 0;
            std::memcpy(&w, v.data(), 8);
            if (v.size() < 8) w &= (uint64_t{1} << (8 * v.size())) - 1;
            const ZeroSlot& s = kZeroSlots[zero_slot(w)];
            if (s.word == w) {
                pair.zero = s.zero;
                return n;
            }
        }
    }
    pair.zero = zero_of(trim(v));
    return n;
}

bool is_value(const Pair& p, Zero z) { return p.code == 0 && p.zero == z; }

int32_t layer_number(std::string_view name) {
    // Most layer names are one or two digits.
    using exchange::detail::is_digit;
    if (name.size() == 1 && is_digit(name[0])) return name[0] - '0';
    if (name.size() == 2 && is_digit(name[0]) && is_digit(name[1])) return (name[0] - '0') * 10 + (name[1] - '0');
    int32_t n = kNoLayerNumber;
    if (!exchange::parse_int(name, n) || n < 0) return kNoLayerNumber;
    return n;
}

// Builds the entities of one block (or of the ENTITIES section) from the
// pairs that follow each group 0.
class EntityBuilder {
public:
    EntityBuilder(Block& block, DropPoints drop) : block_(block), drop_(drop) {}

    // The pairs up to the next group 0 change nothing.
    bool skipping() const { return state_ == State::Skip; }
    // Inside a polyline on a layer whose points are not kept: its VERTEXes
    // are skipped (start() would make nothing of them).
    bool dropping_vertices() const {
        return inPolyline_ && drop_ && !block_.entities.empty() && drop_(block_.entities.back().layer);
    }

    // A group 0 inside the section: starts the next entity.
    void start(const Pair& p) {
        finish();
        switch (p.zero) {
        case Zero::Vertex:
            // The polyline's layer is known by its first vertex.
            if (inPolyline_ && !(drop_ && drop_(block_.entities.back().layer))) {
                block_.points.push_back(Vec{});
                block_.entities.back().pointCount += 1;
                state_ = State::Vertex;
            } else {
                state_ = State::Skip;
            }
            return;
        case Zero::SeqEnd:
            inPolyline_ = false;
            state_ = State::Skip;
            return;
        default: break;
        }
        inPolyline_ = false;
        Entity e;
        e.firstPoint = static_cast<uint32_t>(block_.points.size());
        e.textAt = static_cast<uint32_t>(block_.texts.size());
        switch (p.zero) {
        case Zero::Polyline:
            e.kind = Kind::Polyline;
            state_ = State::Polyline;
            inPolyline_ = true;
            break;
        case Zero::LwPolyline:
            e.kind = Kind::Polyline;
            state_ = State::LwPolyline;
            break;
        case Zero::Line:
            e.kind = Kind::Line;
            e.pointCount = 2;
            state_ = State::Line;
            break;
        case Zero::Point:
        case Zero::Text:
        case Zero::MText:
            e.kind = p.zero == Zero::Point ? Kind::Point : Kind::Text;
            e.pointCount = 1;
            state_ = State::Single;
            break;
        default:
            other_ = std::string(trim(p.value).substr(0, 32));
            std::transform(other_.begin(), other_.end(), other_.begin(), exchange::upper_ascii);
            otherLayer_ = kNoLayerNumber;
            state_ = State::Other;
            return;
        }
        block_.points.resize(block_.points.size() + e.pointCount);
        block_.entities.push_back(e);
    }

    void pair(const Pair& p) {
        switch (state_) {
        case State::Skip: return;
        case State::Other:
            if (p.code == 8) otherLayer_ = layer_number(p.value);
            return;
        case State::Vertex:
            coordinate(p, block_.points.back(), 10);
            return;
        default: break;
        }
        Entity& e = block_.entities.back();
        switch (p.code) {
        case 8: e.layer = layer_number(p.value); return;
        case 50: e.hasAngle = exchange::parse_decimal(p.value, e.angle); return;
        case 70:
            if (e.kind == Kind::Polyline) {
                int32_t flags = 0;
                if (exchange::parse_int(p.value, flags)) e.closed = (flags & 1) != 0;
            }
            return;
        case 1:
        case 3:
            if (e.kind == Kind::Text) {
                block_.texts.append(p.value);
                e.textLength = static_cast<uint32_t>(block_.texts.size() - e.textAt);
            }
            return;
        default: break;
        }
        if (state_ == State::LwPolyline) {
            // Each group 10 opens the next vertex.
            if (p.code == 10) {
                block_.points.push_back(Vec{});
                e.pointCount += 1;
            }
            if (e.pointCount > 0) coordinate(p, block_.points.back(), 10);
            return;
        }
        if (e.pointCount == 0 || state_ == State::Polyline) return;
        Vec* pts = block_.points.data() + e.firstPoint;
        coordinate(p, pts[0], 10);
        if (state_ == State::Line) coordinate(p, pts[1], 11);
    }

    void finish() {
        if (state_ == State::Other) count_other();
        state_ = State::Skip;
    }

private:
    enum class State : uint8_t { Skip, Polyline, Vertex, LwPolyline, Line, Single, Other };

    static void number(const Pair& p, double& v) {
        if (p.hasNumber) v = p.number;
        else exchange::parse_decimal(p.value, v);
    }
    static void coordinate(const Pair& p, Vec& v, int32_t xCode) {
        if (p.code == xCode) number(p, v.x);
        else if (p.code == xCode + 10) number(p, v.y);
    }

    void count_other() {
        auto& others = block_.others;
        for (OtherCount& o : others) {
            if (o.layer == otherLayer_ && o.type == other_) {
                o.count += 1;
                return;
            }
        }
        if (others.size() < kMaxOtherKinds) others.push_back(OtherCount{other_, otherLayer_, 1});
    }

    Block& block_;
    DropPoints drop_;
    State state_ = State::Skip;
    bool inPolyline_ = false;
    std::string other_;
    int32_t otherLayer_ = kNoLayerNumber;
};

enum class Section : uint8_t { None, Header, Blocks, Entities, Other };

class Reader {
public:
    Reader(Drawing& out, DropPoints drop) : out_(out), drop_(drop) {}

    ReadStatus run(exchange::LineCursor& lines) {
        Pair p;
        Next n = next_pair_typed(lines, p);
        while (n == Next::Pair) {
            if (!take(p)) break;  // EOF
            n = p.code == 0 ? entity_pairs(lines, p) : next_pair_typed(lines, p);
        }
        if (n == Next::Fault) return ReadStatus::Malformed;
        // Data ending inside a section is a cut-off file.
        return section_ == Section::None ? ReadStatus::Ok : ReadStatus::Malformed;
    }

private:
    // The entity a group 0 has just begun, if one is being built.
    EntityBuilder* active_builder() {
        if (section_ == Section::Blocks) return open_ && !inBlockHead_ && builder_ ? &*builder_ : nullptr;
        if (section_ == Section::Entities) return sectionBuilder_ ? &*sectionBuilder_ : nullptr;
        return nullptr;
    }

    // After a group 0: the entity's other pairs straight to its builder
    // (take() would hand each of them there), up to the next group 0,
    // which is left in p. Most of a file's pairs go this way.
    Next entity_pairs(exchange::LineCursor& lines, Pair& p) {
        EntityBuilder* b = active_builder();
        if (!b) return next_pair_typed(lines, p);
        if (b->skipping()) {
            // The VERTEXes of a polyline whose points are not kept start
            // nothing either: they are passed over here in one go.
            const bool dropping = b->dropping_vertices();
            for (;;) {
                const Next n = next_pair_typed<false>(lines, p);
                if (n != Next::Pair) return n;
                if (p.code == 0 && !(dropping && p.zero == Zero::Vertex)) return n;
            }
        }
        for (;;) {
            const Next n = next_pair_typed(lines, p);
            if (n != Next::Pair || p.code == 0) return n;
            b->pair(p);
        }
    }

    // False at group 0 EOF.
    bool take(const Pair& p) {
        if (section_ == Section::None) {
            if (expectName_) {
                expectName_ = false;
                if (p.code == 2) {
                    section_ = section_of(trim(p.value));
                    return true;
                }
                section_ = Section::Other;  // a section without a name
            } else {
                if (is_value(p, Zero::Eof)) return false;
                if (is_value(p, Zero::Section)) expectName_ = true;
                return true;
            }
        }
        if (is_value(p, Zero::EndSec)) {
            end_block_entities();
            section_ = Section::None;
            return true;
        }
        switch (section_) {
        case Section::Header: header(p); break;
        case Section::Blocks: blocks(p); break;
        case Section::Entities: entities(p); break;
        default: break;
        }
        return true;
    }

    static Section section_of(std::string_view name) {
        if (iequals(name, "HEADER")) return Section::Header;
        if (iequals(name, "BLOCKS")) return Section::Blocks;
        if (iequals(name, "ENTITIES")) return Section::Entities;
        return Section::Other;
    }

    void header(const Pair& p) {
        if (p.code == 9) {
            const std::string_view name = trim(p.value);
            variable_ = iequals(name, "$INSUNITS")     ? Variable::InsUnits
                        : iequals(name, "$MEASUREMENT") ? Variable::Measurement
                                                        : Variable::Other;
            return;
        }
        int32_t v = 0;
        if (p.code != 70 || !exchange::parse_int(p.value, v)) return;
        if (variable_ == Variable::InsUnits) {
            if (v == 1) out_.headerUnits = Units::Inch;
            if (v == 4) out_.headerUnits = Units::Millimetre;
            insUnitsSeen_ = v == 1 || v == 4;
        } else if (variable_ == Variable::Measurement && !insUnitsSeen_) {
            if (v == 0) out_.headerUnits = Units::Inch;
            if (v == 1) out_.headerUnits = Units::Millimetre;
        }
    }

    void blocks(const Pair& p) {
        if (p.code == 0) {
            if (p.zero == Zero::Block) {
                end_block_entities();  // a block not ended is dropped
                open_.emplace();
                // Room as the last block took: a style's blocks are alike.
                if (!out_.blocks.empty()) {
                    const Block& last = out_.blocks.back();
                    open_->entities.reserve(last.entities.size());
                    open_->points.reserve(last.points.size());
                    open_->texts.reserve(last.texts.size());
                }
                builder_.reset();
                inBlockHead_ = true;
                return;
            }
            if (p.zero == Zero::EndBlk) {
                if (open_) {
                    if (builder_) builder_->finish();
                    builder_.reset();
                    out_.blocks.push_back(std::move(*open_));
                    open_.reset();
                }
                inBlockHead_ = false;
                return;
            }
            if (!open_) return;
            inBlockHead_ = false;
            if (!builder_) builder_.emplace(*open_, drop_);
            builder_->start(p);
            return;
        }
        if (!open_) return;
        if (inBlockHead_) {
            if (p.code == 2 && open_->name.empty()) open_->name = std::string(trim(p.value));
            return;
        }
        if (builder_) builder_->pair(p);
    }

    void entities(const Pair& p) {
        if (!sectionBuilder_) sectionBuilder_.emplace(out_.entities, drop_);
        if (p.code == 0) sectionBuilder_->start(p);
        else sectionBuilder_->pair(p);
    }

    void end_block_entities() {
        if (builder_) builder_->finish();
        builder_.reset();
        open_.reset();
        inBlockHead_ = false;
        if (sectionBuilder_) sectionBuilder_->finish();
        sectionBuilder_.reset();
    }

    enum class Variable : uint8_t { Other, InsUnits, Measurement };

    Drawing& out_;
    DropPoints drop_;
    Section section_ = Section::None;
    bool expectName_ = false;
    Variable variable_ = Variable::Other;
    bool insUnitsSeen_ = false;
    std::optional<Block> open_;
    std::optional<EntityBuilder> builder_;
    std::optional<EntityBuilder> sectionBuilder_;
    bool inBlockHead_ = false;
};

}  // namespace

bool looks_like_dxf(std::span<const uint8_t> bytes) {
    exchange::LineCursor lines(bytes);
    Pair p;
    return next_pair_typed(lines, p) == Next::Pair && is_value(p, Zero::Section);
}

ReadStatus read_dxf(std::span<const uint8_t> bytes, Drawing& out, DropPoints drop) {
    out = Drawing{};
    if (bytes.size() > kMaxDxfBytes) return ReadStatus::TooLarge;
    if (!looks_like_dxf(bytes)) return ReadStatus::NotDxf;
    exchange::LineCursor lines(bytes);
    Reader reader(out, drop);
    return reader.run(lines);
}

ReadStatus load_file(std::string_view path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    platform::File file = platform::open_file(path, platform::OpenMode::Read);
    if (!file.is_open()) return ReadStatus::CannotOpen;
    const int64_t size = platform::file_size(file);
    if (size < 0) return ReadStatus::CannotOpen;
    if (static_cast<uint64_t>(size) > kMaxDxfBytes) return ReadStatus::TooLarge;
    bytes.resize(static_cast<size_t>(size));
    if (size > 0 && !platform::read_exact(file, bytes.data(), bytes.size())) {
        bytes.clear();
        return ReadStatus::CannotOpen;
    }
    return ReadStatus::Ok;
}

bool file_looks_like_dxf(std::string_view path) {
    platform::File file = platform::open_file(path, platform::OpenMode::Read);
    if (!file.is_open()) return false;
    // A byte-order mark, some blank lines and "0", "SECTION" fit in this.
    uint8_t head[512];
    const int64_t n = platform::read_bytes(file, head, sizeof head);
    if (n <= 0) return false;
    return looks_like_dxf(std::span<const uint8_t>(head, static_cast<size_t>(n)));
}

}  // namespace teilimp::dxf
