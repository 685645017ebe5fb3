// Reading one EPN file into a piece: the header line, the point lines, the
// trailer, the size names and the grade lines, in this order, each read
// once from a buffer that holds the whole file.
#include "reader/epn_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "platform/platform.h"
#include "reader/epn_contour.h"
#include "reader/epn_fields.h"
#include "reader/epn_points.h"
#include "reader/piece_image.h"
#include "util/text.h"

namespace teilimp::reader {

namespace {

constexpr size_t kLineWidth = 80;
constexpr size_t kMaxPerimeterPoints = 10000;
constexpr size_t kMaxInternalPoints = 20000;
constexpr int32_t kMaxCount16 = 32767;  // counts are stored in 16 bits
constexpr int64_t kMaxImageLength = 256LL * 1024 * 1024;


template <size_t N>
void nul_after_siglen(std::array<char, N>& field) {
    const int32_t length = util::siglen(field.data(), static_cast<int32_t>(N));
    std::fill(field.begin() + length, field.end(), '\0');
}

template <size_t N>
std::array<char, N> take(const char* line, size_t column) {
    std::array<char, N> field;
    std::memcpy(field.data(), line + column, N);
    return field;
}

// Ten times an EPN value in the stored unit; false when it doesn't fit.
bool tenfold(int32_t value, int32_t& out) {
    const int64_t v = static_cast<int64_t>(value) * 10;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// Reads an integer field that the piece needs: status 0, 13 when it is no
// number, 11 when its value does not fit in int32.
EpnStatus read_number(const char* field, size_t width, int32_t& out) {
    const std::optional<int32_t> v = read_int_field(field, width);
    if (v) {
        out = *v;
        return EpnStatus::Ok;
    }
    return int_field_too_large(field, width) ? EpnStatus::OutOfLimits : EpnStatus::UnreadableNumber;
}

// Fills a point entry from a point line. Status 0; 13 when a number can't
// be read; 11 when a coordinate is out of range. An angle that can't be
// read means no direction, as a blank one does.
EpnStatus read_point(const char* line, EpnPoint& p) {
    struct Field {
        size_t column;
        size_t width;
        int32_t* target;
    };
    const Field fields[] = {{0, 5, &p.pointNumber}, {5, 5, &p.ruleNumber}, {20, 10, &p.x},
                            {30, 10, &p.y}};
    for (const Field& f : fields) {
        if (const EpnStatus status = read_number(line + f.column, f.width, *f.target); status != EpnStatus::Ok)
            return status;
    }
    std::memcpy(p.label.data(), line + 10, p.label.size());
    p.pointType = line[45];
    p.lineFlag = line[50];
    if (!tenfold(p.x, p.x) || !tenfold(p.y, p.y)) return EpnStatus::OutOfLimits;
    if (!is_blank(line + 46, 4)) {
        if (const std::optional<int32_t> a = read_int_field(line + 46, 4)) {
            const util::Vec2 d = angle_direction(*a);
            p.dirCos = d.x;
            p.dirSin = d.y;
        }
    }
    return EpnStatus::Ok;
}

struct HeaderLine {
    std::array<char, 20> name;
    std::array<char, 20> text1;
    std::array<char, 20> text2;
    uint8_t pieceKind = 0;
};

struct TrailerLine {
    uint8_t sizeNameKind = 1;
    std::array<char, 20> text;
    std::array<char, 6> baseSize;
    int32_t sizeCount = 0;
};

// Status 0, 4, 5 or 12.
EpnStatus read_header(LineCursor& lines, HeaderLine& h) {
    char line[kLineWidth];
    if (!lines.next(line, kLineWidth)) return EpnStatus::BadHeaderOrTrailer;
    const std::optional<int32_t> formatNumber = read_int_field(line + 70, 4);
    if (!formatNumber || !read_int_field(line + 74, 3) || !read_int_field(line + 77, 2))
        return EpnStatus::BadHeaderOrTrailer;
    if (*formatNumber != 3) return EpnStatus::BadHeaderOrTrailer;

    h.name = take<20>(line, 0);
    h.text1 = take<20>(line, 20);
    h.text2 = take<20>(line, 40);
    for (auto* field : {&h.name, &h.text1, &h.text2}) {
        util::KleGro(field->data(), 20);
        nul_after_siglen(*field);
    }
    if (is_keyword(line + 60, 10, "MIRRORED")) {
        h.pieceKind = 2;
    } else if (is_keyword(line + 60, 10, "CLOSED")) {
        h.pieceKind = 0;
    } else {
        return EpnStatus::BadPieceKind;
    }
    if (util::siglen(h.name.data(), static_cast<int32_t>(h.name.size())) == 0) return EpnStatus::NoName;
    return EpnStatus::Ok;
}

// Status 0, 4 or 11 (size count out of range).
EpnStatus read_trailer(LineCursor& lines, TrailerLine& t) {
    char line[kLineWidth];
    if (!lines.next(line, kLineWidth)) return EpnStatus::BadHeaderOrTrailer;
    const std::optional<int32_t> sizeCount = read_int_field(line + 50, 6);
    if (!sizeCount) return EpnStatus::BadHeaderOrTrailer;
    if (*sizeCount < 1 || *sizeCount > kMaxCount16) return EpnStatus::OutOfLimits;
    t.sizeCount = *sizeCount;
    t.sizeNameKind = is_keyword(line, 10, "NUMERIC") ? 0 : 1;
    t.text = take<20>(line, 10);
    t.baseSize = take<6>(line, 30);
    nul_after_siglen(t.text);
    nul_after_siglen(t.baseSize);
    return EpnStatus::Ok;
}


struct SizeTable {
    int32_t count = 0;                         // the sizes the trailer names
    std::vector<std::array<char, 6>> names;    // the names read, at most count
    int32_t baseSizeIndex = 0;
    bool baseSizeFound = false;
};

// Size names: ten 6-column names per line. Status 4 when the file ends
// before the last of them, before the image is allocated: a size count
// claimed far beyond the file costs nothing.
EpnStatus read_size_names(LineCursor& lines, const TrailerLine& t, SizeTable& sizes) {
    const auto count = static_cast<size_t>(t.sizeCount);
    sizes.count = t.sizeCount;
    sizes.names.clear();
    char line[kLineWidth];
    while (sizes.names.size() < count) {
        if (!lines.next(line, kLineWidth)) return EpnStatus::BadHeaderOrTrailer;
        for (size_t j = 0; j < 10 && sizes.names.size() < count; ++j)
            sizes.names.push_back(take<6>(line, 6 * j));
    }
    for (auto& name : sizes.names) nul_after_siglen(name);
    const auto match = std::find(sizes.names.begin(), sizes.names.end(), t.baseSize);
    sizes.baseSizeIndex = match == sizes.names.end() ? 0 : static_cast<int32_t>(match - sizes.names.begin());
    sizes.baseSizeFound = match != sizes.names.end();
    return EpnStatus::Ok;
}

// The model's sizes: the names read, each an inner one unless it is the
// first or the last (one size: both); sizes whose names were not read have
// a NUL name and count as outer ones.
void fill_sizes(const SizeTable& sizes, PieceModel& m) {
    const auto count = static_cast<size_t>(sizes.count);
    m.sizes.assign(count, ModelSize{});
    for (size_t k = 0; k < sizes.names.size(); ++k)
        m.sizes[k] = {sizes.names[k], k != 0 && k + 1 != count};
    m.baseSizeIndex = static_cast<int16_t>(sizes.baseSizeIndex);
}

// Reads one grade line: status 0, 4 at the end of the file, 13 when a
// field is no number, 11 when a value does not fit in int32.
EpnStatus read_grade_line(LineCursor& lines, int32_t& rule, int32_t& x, int32_t& y) {
    char line[40];
    if (!lines.next(line, sizeof line)) return EpnStatus::BadHeaderOrTrailer;
    int32_t unused = 0;
    for (EpnStatus status : {read_number(line + 0, 5, unused), read_number(line + 5, 5, rule),
                           read_number(line + 20, 10, x), read_number(line + 30, 10, y)})
        if (status != EpnStatus::Ok) return status;
    return EpnStatus::Ok;
}

// Reads the grade lines into the model's rules (already one per rule). The
// lines come size by size; each size's values are kept, and the step from
// the previous size must fit the image. Any line that can't be read, and
// the end of the file before the last line, refuses the piece (its status).
// At the end the values become offsets from the base size (a one-size piece
// keeps its values apart).
EpnStatus read_grades(LineCursor& lines, const Rotation& rotation, PieceModel& m) {
    const size_t sizeCount = m.sizes.size();
    for (ModelRule& r : m.rules) {
        r.number = 0;
        r.offsets.assign(sizeCount, Offset{});
        r.oneSize = {};
    }
    for (size_t s = 0; s < sizeCount; ++s) {
        for (ModelRule& r : m.rules) {
            int32_t rule = 0, x = 0, y = 0;
            if (const EpnStatus status = read_grade_line(lines, rule, x, y); status != EpnStatus::Ok)
                return status;
            if (!tenfold(x, x) || !tenfold(y, y)) return EpnStatus::OutOfLimits;
            if (rotation.turned && !turn_grade_values(rotation, x, y)) return EpnStatus::OutOfLimits;
            if (s == 0) r.number = static_cast<int16_t>(rule);
            if (s > 0) {
                const int64_t dx = x - r.offsets[s - 1].dx;
                const int64_t dy = y - r.offsets[s - 1].dy;
                if (dx < INT32_MIN || dx > INT32_MAX || dy < INT32_MIN || dy > INT32_MAX)
                    return EpnStatus::OutOfLimits;
            }
            r.offsets[s] = {x, y};
        }
    }
    const auto base = static_cast<size_t>(m.baseSizeIndex);
    for (ModelRule& r : m.rules) {
        if (sizeCount == 1) {
            r.oneSize = r.offsets[0];
            r.offsets[0] = {};
            continue;
        }
        const Offset atBase = r.offsets[base];
        for (Offset& o : r.offsets) o = {o.dx - atBase.dx, o.dy - atBase.dy};
    }
    return EpnStatus::Ok;
}

struct Reading {
    LineCursor& lines;
    // Status for a failed allocation in the current phase.
    EpnStatus allocStatus = EpnStatus::NoSectionBuffers;

    EpnStatus run(int32_t& contourReversed, int32_t& grainRotated, Piece& piece);
};

EpnStatus Reading::run(int32_t& contourReversed, int32_t& grainRotated, Piece& piece) {
    HeaderLine head;
    if (const EpnStatus status = read_header(lines, head); status != EpnStatus::Ok) return status;

    // Point section: up to the end line or the end of the file.
    std::vector<EpnPoint> perimeter;
    std::vector<EpnPoint> internal;
    int32_t ruleCount = 0;
    char line[kLineWidth];
    while (lines.next(line, kLineWidth)) {
        if (std::memcmp(line, "0000000000", 10) == 0) break;
        if (!is_blank(line + 5, 5) && ++ruleCount > kMaxCount16) return EpnStatus::OutOfLimits;
        const bool onPerimeter = is_keyword(line + 40, 5, "PERIM");
        std::vector<EpnPoint>& table = onPerimeter ? perimeter : internal;
        if (table.size() >= (onPerimeter ? kMaxPerimeterPoints : kMaxInternalPoints))
            return EpnStatus::OutOfLimits;
        EpnPoint p;
        if (const EpnStatus status = read_point(line, p); status != EpnStatus::Ok) return status;
        allocStatus = onPerimeter ? EpnStatus::NoPerimeterTable : EpnStatus::NoInternalTable;
        table.push_back(p);
    }

    contourReversed = orient_contour(perimeter) ? 1 : 0;
    const GrainResult grain = correct_grain_line(perimeter, internal, head.pieceKind == 2);
    if (grain.overflow) return EpnStatus::OutOfLimits;
    grainRotated = grain.rotation.turned ? 1 : 0;

    allocStatus = EpnStatus::NoSectionBuffers;
    PieceModel& m = piece.model;
    const int64_t pointBytes = build_model_points(perimeter, internal, m);
    perimeter = {};
    internal = {};

    TrailerLine trailer;
    if (const EpnStatus status = read_trailer(lines, trailer); status != EpnStatus::Ok) return status;
    const int32_t trailerLine = lines.linesRead;
    const int32_t lastStepIndex = std::max(trailer.sizeCount - 2, 0);

    // The image's length is known now; refuse a huge one before anything
    // large is allocated.
    const int64_t blockLength = kRuleHeaderLength + int64_t{kRuleStepLength} * (lastStepIndex + 1);
    const int64_t imageLength = kPieceHeaderLength + int64_t{kSizeEntryLength} * trailer.sizeCount +
                                blockLength * ruleCount + pointBytes + kClosingBytes;
    if (imageLength > kMaxImageLength) return EpnStatus::OutOfLimits;

    m.name = head.name;
    m.text1 = head.text1;
    m.text2 = head.text2;
    m.mirrored = head.pieceKind == 2;
    m.numericNames = trailer.sizeNameKind == 0;
    m.trailerText = trailer.text;
    m.baseSize = trailer.baseSize;

    allocStatus = EpnStatus::NoSizeTable;
    SizeTable sizes;
    if (const EpnStatus status = read_size_names(lines, trailer, sizes); status != EpnStatus::Ok) {
        piece.incomplete = true;
        return status;
    }
    fill_sizes(sizes, m);

    allocStatus = EpnStatus::NoGradeTable;
    m.rules.resize(static_cast<size_t>(ruleCount));
    if (const EpnStatus status = read_grades(lines, grain.rotation, m); status != EpnStatus::Ok) {
        piece.incomplete = status == EpnStatus::BadHeaderOrTrailer;
        return status;
    }

    allocStatus = EpnStatus::NoImage;
    // The image is built in the piece's own buffer, which keeps the room of
    // an earlier piece where that is large enough (a run reads piece after
    // piece into one Piece); a larger image gets a new buffer, the old one
    // given back first.
    if (static_cast<size_t>(imageLength) > piece.image.capacity()) util::Bytes().swap(piece.image);
    ImageFault fault;
    if (!encode_piece(m, piece.image, fault)) return EpnStatus::OutOfLimits;

    piece.pieceName = head.name;
    piece.baseSizeLine = sizes.baseSizeFound ? 0 : trailerLine;
    return EpnStatus::Ok;
}

// Resets the results, then reads the piece from `lines`.
EpnStatus read_piece(LineCursor& lines, int32_t& contourReversed, int32_t& grainRotated, Piece& piece) {
    contourReversed = 0;
    grainRotated = 0;
    piece.pieceName.fill('\0');
    piece.image.clear();
    piece.incomplete = false;
    piece.baseSizeLine = 0;
    Reading reading{lines};
    EpnStatus status;
    try {
        status = reading.run(contourReversed, grainRotated, piece);
    } catch (const std::bad_alloc&) {
        status = reading.allocStatus;
    }
    piece.stopLine = lines.linesRead;
    if (status != EpnStatus::Ok) piece.image.clear();  // no image after a failure
    return status;
}

}  // namespace

EpnStatus epn_parse(std::span<const uint8_t> bytes, int32_t& contourReversed,
                    int32_t& grainRotated, Piece& piece) {
    LineCursor lines(bytes);
    return read_piece(lines, contourReversed, grainRotated, piece);
}

EpnStatus epn_read(const char* fileName, int32_t fileNameLength, int32_t& contourReversed,
                   int32_t& grainRotated, Piece& piece) {
    contourReversed = 0;
    grainRotated = 0;
    piece.pieceName.fill('\0');
    piece.image.clear();
    piece.stopLine = 0;
    piece.incomplete = false;
    piece.baseSizeLine = 0;

    constexpr int32_t kFileNameField = 1024;
    const int32_t length = std::clamp(fileNameLength, 0, kFileNameField);
    const std::string_view path(fileName, static_cast<size_t>(length));
    platform::File file = platform::open_file(path, platform::OpenMode::Read);
    if (!file.is_open()) {
        // A file that another program still holds may be free a moment later.
        platform::sleep_ms(1000);
        file = platform::open_file(path, platform::OpenMode::Read);
        if (!file.is_open()) return EpnStatus::CannotOpen;
    }
    LineCursor lines(file);
    return read_piece(lines, contourReversed, grainRotated, piece);
}

}  // namespace teilimp::reader
