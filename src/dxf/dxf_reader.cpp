// ASCII DXF: group code and value on alternate lines. Only the sections the
// exchange formats fill are taken apart (HEADER for the units, BLOCKS,
// ENTITIES); every other section is passed over pair by pair.
#include "dxf/dxf_reader.h"

#include <algorithm>
#include <optional>

#include "platform/platform.h"
#include "rul/read_text.h"

namespace teilimp::dxf {

namespace {

using exchange::iequals;
using exchange::trim;

struct Pair {
    int32_t code = 0;
    std::string_view value;
};

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

Next next_pair(exchange::LineCursor& lines, Pair& pair) {
    std::string_view codeLine;
    // Blank lines before the first group code (and between pairs, which some
    // writers leave at the end) are not pairs.
    do {
        if (!lines.next(codeLine)) return Next::End;
        codeLine = trim(codeLine);
    } while (codeLine.empty());
    if (!group_code(codeLine, pair.code) || pair.code < -5 || pair.code > 1071) return Next::Fault;
    if (!lines.next(pair.value)) return Next::Fault;
    return Next::Pair;
}

bool is_value(const Pair& p, std::string_view name) {
    return p.code == 0 && iequals(trim(p.value), name);
}

int32_t layer_number(std::string_view name) {
    int32_t n = kNoLayerNumber;
    if (!exchange::parse_int(name, n) || n < 0) return kNoLayerNumber;
    return n;
}

// Builds the entities of one block (or of the ENTITIES section) from the
// pairs that follow each group 0.
class EntityBuilder {
public:
    explicit EntityBuilder(Block& block) : block_(block) {}

    // A group 0 inside the section: starts the next entity.
    void start(std::string_view typeName) {
        finish();
        const std::string_view t = trim(typeName);
        if (iequals(t, "VERTEX")) {
            if (inPolyline_) {
                block_.points.push_back(Vec{});
                block_.entities.back().pointCount += 1;
                state_ = State::Vertex;
            } else {
                state_ = State::Skip;
            }
            return;
        }
        if (iequals(t, "SEQEND")) {
            inPolyline_ = false;
            state_ = State::Skip;
            return;
        }
        inPolyline_ = false;
        Entity e;
        e.firstPoint = static_cast<uint32_t>(block_.points.size());
        e.textAt = static_cast<uint32_t>(block_.texts.size());
        if (iequals(t, "POLYLINE")) {
            e.kind = Kind::Polyline;
            state_ = State::Polyline;
            inPolyline_ = true;
        } else if (iequals(t, "LWPOLYLINE")) {
            e.kind = Kind::Polyline;
            state_ = State::LwPolyline;
        } else if (iequals(t, "LINE")) {
            e.kind = Kind::Line;
            e.pointCount = 2;
            state_ = State::Line;
        } else if (iequals(t, "POINT") || iequals(t, "TEXT") || iequals(t, "MTEXT")) {
            e.kind = iequals(t, "POINT") ? Kind::Point : Kind::Text;
            e.pointCount = 1;
            state_ = State::Single;
        } else {
            other_ = std::string(t.substr(0, 32));
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

    static void coordinate(const Pair& p, Vec& v, int32_t xCode) {
        if (p.code == xCode) exchange::parse_decimal(p.value, v.x);
        else if (p.code == xCode + 10) exchange::parse_decimal(p.value, v.y);
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
    State state_ = State::Skip;
    bool inPolyline_ = false;
    std::string other_;
    int32_t otherLayer_ = kNoLayerNumber;
};

enum class Section : uint8_t { None, Header, Blocks, Entities, Other };

class Reader {
public:
    explicit Reader(Drawing& out) : out_(out) {}

    ReadStatus run(exchange::LineCursor& lines) {
        Pair p;
        for (;;) {
            const Next n = next_pair(lines, p);
            if (n == Next::Fault) return ReadStatus::Malformed;
            if (n == Next::End) break;
            if (!take(p)) break;  // EOF
        }
        // Data ending inside a section is a cut-off file.
        return section_ == Section::None ? ReadStatus::Ok : ReadStatus::Malformed;
    }

private:
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
                if (is_value(p, "EOF")) return false;
                if (is_value(p, "SECTION")) expectName_ = true;
                return true;
            }
        }
        if (is_value(p, "ENDSEC")) {
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
            const std::string_view type = trim(p.value);
            if (iequals(type, "BLOCK")) {
                end_block_entities();  // a block not ended is dropped
                open_.emplace();
                builder_.reset();
                inBlockHead_ = true;
                return;
            }
            if (iequals(type, "ENDBLK")) {
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
            if (!builder_) builder_.emplace(*open_);
            builder_->start(type);
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
        if (!sectionBuilder_) sectionBuilder_.emplace(out_.entities);
        if (p.code == 0) sectionBuilder_->start(p.value);
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
    return next_pair(lines, p) == Next::Pair && is_value(p, "SECTION");
}

ReadStatus read_dxf(std::span<const uint8_t> bytes, Drawing& out) {
    out = Drawing{};
    if (bytes.size() > kMaxDxfBytes) return ReadStatus::TooLarge;
    if (!looks_like_dxf(bytes)) return ReadStatus::NotDxf;
    exchange::LineCursor lines(bytes);
    Reader reader(out);
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
