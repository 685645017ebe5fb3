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
int32_t read_number(const char* field, size_t width, int32_t& out) {
    const std::optional<int32_t> v = read_int_field(field, width);
    if (v) {
        out = *v;
        return kEpnOk;
    }
    return int_field_too_large(field, width) ? kEpnOutOfLimits : kEpnUnreadableNumber;
}

// Fills a point entry from a point line. Status 0; 13 when a number can't
// be read; 11 when a coordinate is out of range. An angle that can't be
// read means no direction, as a blank one does.
int32_t read_point(const char* line, EpnPoint& p) {
    struct Field {
        size_t column;
        size_t width;
        int32_t* target;
    };
    const Field fields[] = {{0, 5, &p.pointNumber}, {5, 5, &p.ruleNumber}, {20, 10, &p.x},
                            {30, 10, &p.y}};
    for (const Field& f : fields) {
        if (const int32_t status = read_number(line + f.column, f.width, *f.target); status != kEpnOk)
            return status;
    }
    std::memcpy(p.label.data(), line + 10, p.label.size());
    p.pointType = line[45];
    p.lineFlag = line[50];
    if (!tenfold(p.x, p.x) || !tenfold(p.y, p.y)) return kEpnOutOfLimits;
    if (!is_blank(line + 46, 4)) {
        if (const std::optional<int32_t> a = read_int_field(line + 46, 4)) {
            const util::Vec2 d = angle_direction(*a);
            p.dirCos = d.x;
            p.dirSin = d.y;
        }
    }
    return kEpnOk;
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
int32_t read_header(LineCursor& lines, HeaderLine& h) {
    char line[kLineWidth];
    if (!lines.next(line, kLineWidth)) return kEpnBadHeaderOrTrailer;
    const std::optional<int32_t> formatNumber = read_int_field(line + 70, 4);
    if (!formatNumber || !read_int_field(line + 74, 3) || !read_int_field(line + 77, 2))
        return kEpnBadHeaderOrTrailer;
    if (*formatNumber != 3) return kEpnBadHeaderOrTrailer;

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
        return kEpnBadPieceKind;
    }
    if (util::siglen(h.name.data(), static_cast<int32_t>(h.name.size())) == 0) return kEpnNoName;
    return kEpnOk;
}

// Status 0, 4 or 11 (size count out of range).
int32_t read_trailer(LineCursor& lines, TrailerLine& t) {
    char line[kLineWidth];
    if (!lines.next(line, kLineWidth)) return kEpnBadHeaderOrTrailer;
    const std::optional<int32_t> sizeCount = read_int_field(line + 50, 6);
    if (!sizeCount) return kEpnBadHeaderOrTrailer;
    if (*sizeCount < 1 || *sizeCount > kMaxCount16) return kEpnOutOfLimits;
    t.sizeCount = *sizeCount;
    t.sizeNameKind = is_keyword(line, 10, "NUMERIC") ? 0 : 1;
    t.text = take<20>(line, 10);
    t.baseSize = take<6>(line, 30);
    nul_after_siglen(t.text);
    nul_after_siglen(t.baseSize);
    return kEpnOk;
}

struct Sections {
    std::vector<uint8_t> perimeter;
    std::vector<uint8_t> lines;
    int32_t lineCount = 0;
};

void append(std::vector<uint8_t>& to, const uint8_t* bytes, size_t n) {
    to.insert(to.end(), bytes, bytes + n);
}

// Point records of the contour, and the internal lines with their headers.
// A last line whose final point continues ("N") is never closed and is
// left out.
void build_sections(const std::vector<EpnPoint>& perimeter, const std::vector<EpnPoint>& internal,
                    Sections& s) {
    uint8_t record[kMaxRulePointRecord];
    s.perimeter.reserve(perimeter.size() * kMaxRulePointRecord);
    for (const EpnPoint& p : perimeter)
        append(s.perimeter, record, static_cast<size_t>(make_point_record(p, record)));

    std::vector<uint8_t> current;
    int32_t points = 0;
    for (const EpnPoint& p : internal) {
        append(current, record, static_cast<size_t>(make_point_record(p, record)));
        ++points;
        if (p.lineFlag == 'N') continue;
        uint8_t header[kLineHeaderLength];
        encode_line_header(s.lineCount, p.pointType, points, header);
        append(s.lines, header, sizeof header);
        append(s.lines, current.data(), current.size());
        current.clear();
        points = 0;
        ++s.lineCount;
    }
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
int32_t read_size_names(LineCursor& lines, const TrailerLine& t, SizeTable& sizes) {
    const auto count = static_cast<size_t>(t.sizeCount);
    sizes.count = t.sizeCount;
    sizes.names.clear();
    char line[kLineWidth];
    while (sizes.names.size() < count) {
        if (!lines.next(line, kLineWidth)) return kEpnBadHeaderOrTrailer;
        for (size_t j = 0; j < 10 && sizes.names.size() < count; ++j)
            sizes.names.push_back(take<6>(line, 6 * j));
    }
    for (auto& name : sizes.names) nul_after_siglen(name);
    const auto match = std::find(sizes.names.begin(), sizes.names.end(), t.baseSize);
    sizes.baseSizeIndex = match == sizes.names.end() ? 0 : static_cast<int32_t>(match - sizes.names.begin());
    sizes.baseSizeFound = match != sizes.names.end();
    return kEpnOk;
}

struct Counts {
    int32_t ruleCount = 0;
    int32_t perimeterCount = 0;
    int32_t lineCount = 0;
    int32_t lastStepIndex = 0;
};

void write_piece_header(uint8_t* out, const HeaderLine& head, const TrailerLine& t,
                        const SizeTable& sizes, const Counts& c) {
    ImageHeader h;
    h.text1 = head.text1;
    h.text2 = head.text2;
    h.pieceKind = head.pieceKind;
    h.nameChar8 = head.name[7];
    h.sizeCount = static_cast<int16_t>(t.sizeCount);
    h.lastStepIndex = static_cast<int16_t>(c.lastStepIndex);
    h.baseSize = t.baseSize;
    h.baseSizeIndex = static_cast<int16_t>(sizes.baseSizeIndex);
    h.sizeNameKind = t.sizeNameKind;
    h.trailerText = t.text;
    h.ruleCount = static_cast<int16_t>(c.ruleCount);
    h.perimeterCount = static_cast<int16_t>(c.perimeterCount);
    h.lineCount = static_cast<int16_t>(c.lineCount);
    encode_header(h, out);
}

// Writes the size table at `at`. A size is an inner one unless it is the
// first or the last (one size: both).
void write_size_table(uint8_t* at, const SizeTable& sizes) {
    const size_t count = sizes.names.size();
    for (size_t k = 0; k < count; ++k, at += kSizeEntryLength) {
        const bool outer = k == 0 || k + 1 == static_cast<size_t>(sizes.count);
        encode_size_entry({sizes.names[k], static_cast<uint8_t>(outer ? 0 : 1)}, at);
    }
}

// Reads one grade line: status 0, 4 at the end of the file, 13 when a
// field is no number, 11 when a value does not fit in int32.
int32_t read_grade_line(LineCursor& lines, int32_t& rule, int32_t& x, int32_t& y) {
    char line[40];
    if (!lines.next(line, sizeof line)) return kEpnBadHeaderOrTrailer;
    int32_t unused = 0;
    for (int32_t status : {read_number(line + 0, 5, unused), read_number(line + 5, 5, rule),
                           read_number(line + 20, 10, x), read_number(line + 30, 10, y)})
        if (status != kEpnOk) return status;
    return kEpnOk;
}

// Reads the grade lines and writes the rule blocks, starting at `blocks`
// (zero bytes). The lines come size by size; a rule's steps are the
// differences of its values in neighbouring sizes, so only the previous
// size's values are kept.
int32_t read_grades(LineCursor& lines, const Rotation& rotation, int32_t sizeCount,
                    int32_t ruleCount, int32_t blockLength, uint8_t* blocks) {
    std::vector<XY> previous(static_cast<size_t>(ruleCount));
    for (int32_t s = 0; s < sizeCount; ++s) {
        for (int32_t r = 0; r < ruleCount; ++r) {
            int32_t rule = 0, x = 0, y = 0;
            if (const int32_t status = read_grade_line(lines, rule, x, y); status != kEpnOk)
                return status;
            if (!tenfold(x, x) || !tenfold(y, y)) return kEpnOutOfLimits;
            if (rotation.turned && !turn_grade_values(rotation, x, y)) return kEpnOutOfLimits;
            uint8_t* block = blocks + static_cast<int64_t>(r) * blockLength;
            if (s == 0) put16(block, rule);
            uint8_t* steps = block + kRuleHeaderLength;
            if (sizeCount == 1) {
                put32(steps, x);
                put32(steps + 4, y);
            } else if (s > 0) {
                const int64_t dx = static_cast<int64_t>(x) - previous[r].x;
                const int64_t dy = static_cast<int64_t>(y) - previous[r].y;
                if (dx < INT32_MIN || dx > INT32_MAX || dy < INT32_MIN || dy > INT32_MAX)
                    return kEpnOutOfLimits;
                uint8_t* step = steps + static_cast<int64_t>(s - 1) * kRuleStepLength;
                put32(step, static_cast<int32_t>(dx));
                put32(step + 4, static_cast<int32_t>(dy));
            }
            previous[r] = {x, y};
        }
    }
    return kEpnOk;
}

struct Reading {
    LineCursor& lines;
    // Status for a failed allocation in the current phase.
    int32_t allocStatus = kEpnNoSectionBuffers;

    int32_t run(int32_t& contourReversed, int32_t& grainRotated, Piece& piece);
};

int32_t Reading::run(int32_t& contourReversed, int32_t& grainRotated, Piece& piece) {
    HeaderLine head;
    if (const int32_t status = read_header(lines, head); status != kEpnOk) return status;

    // Point section: up to the end line or the end of the file.
    std::vector<EpnPoint> perimeter;
    std::vector<EpnPoint> internal;
    int32_t ruleCount = 0;
    char line[kLineWidth];
    while (lines.next(line, kLineWidth)) {
        if (std::memcmp(line, "0000000000", 10) == 0) break;
        if (!is_blank(line + 5, 5) && ++ruleCount > kMaxCount16) return kEpnOutOfLimits;
        const bool onPerimeter = is_keyword(line + 40, 5, "PERIM");
        std::vector<EpnPoint>& table = onPerimeter ? perimeter : internal;
        if (table.size() >= (onPerimeter ? kMaxPerimeterPoints : kMaxInternalPoints))
            return kEpnOutOfLimits;
        EpnPoint p;
        if (const int32_t status = read_point(line, p); status != kEpnOk) return status;
        allocStatus = onPerimeter ? kEpnNoPerimeterTable : kEpnNoInternalTable;
        table.push_back(p);
    }

    contourReversed = orient_contour(perimeter) ? 1 : 0;
    const GrainResult grain = correct_grain_line(perimeter, internal, head.pieceKind == 2);
    if (grain.overflow) return kEpnOutOfLimits;
    grainRotated = grain.rotation.turned ? 1 : 0;

    allocStatus = kEpnNoSectionBuffers;
    Sections sections;
    build_sections(perimeter, internal, sections);
    const Counts counts{ruleCount, static_cast<int32_t>(perimeter.size()), sections.lineCount, 0};
    perimeter = {};
    internal = {};

    TrailerLine trailer;
    if (const int32_t status = read_trailer(lines, trailer); status != kEpnOk) return status;
    const int32_t trailerLine = lines.linesRead;
    Counts c = counts;
    c.lastStepIndex = std::max(trailer.sizeCount - 2, 0);

    // The image's length is known now; refuse a huge one before anything
    // large is allocated.
    const int64_t blockLength =
        kRuleHeaderLength + int64_t{kRuleStepLength} * (c.lastStepIndex + 1);
    const int64_t sizeTableEnd =
        kPieceHeaderLength + int64_t{kSizeEntryLength} * trailer.sizeCount;
    const int64_t headerLength = sizeTableEnd + blockLength * c.ruleCount;
    const int64_t imageLength = headerLength + static_cast<int64_t>(sections.perimeter.size()) +
                                static_cast<int64_t>(sections.lines.size()) + kClosingBytes;
    if (imageLength > kMaxImageLength) return kEpnOutOfLimits;

    allocStatus = kEpnNoSizeTable;
    SizeTable sizes;
    if (const int32_t status = read_size_names(lines, trailer, sizes); status != kEpnOk) {
        piece.incomplete = true;
        return status;
    }

    allocStatus = kEpnNoImage;
    // The image is built in the piece's own buffer, which keeps the room of
    // an earlier piece where that is large enough (a run reads piece after
    // piece into one Piece); a larger image gets a new buffer, the old one
    // given back first.
    std::vector<uint8_t>& image = piece.image;
    if (static_cast<size_t>(imageLength) > image.capacity()) std::vector<uint8_t>().swap(image);
    image.assign(static_cast<size_t>(imageLength), 0);
    uint8_t* at = image.data();
    write_piece_header(at, head, trailer, sizes, c);
    write_size_table(at + kPieceHeaderLength, sizes);

    allocStatus = kEpnNoGradeTable;
    if (const int32_t status =
            read_grades(lines, grain.rotation, trailer.sizeCount, c.ruleCount,
                        static_cast<int32_t>(blockLength), at + sizeTableEnd);
        status != kEpnOk) {
        piece.incomplete = status == kEpnBadHeaderOrTrailer;
        return status;
    }

    at += headerLength;
    if (!sections.perimeter.empty())
        std::memcpy(at, sections.perimeter.data(), sections.perimeter.size());
    at += sections.perimeter.size();
    if (!sections.lines.empty()) std::memcpy(at, sections.lines.data(), sections.lines.size());

    piece.pieceName = head.name;
    piece.baseSizeLine = sizes.baseSizeFound ? 0 : trailerLine;
    return kEpnOk;
}

// Resets the results, then reads the piece from `lines`.
int32_t read_piece(LineCursor& lines, int32_t& contourReversed, int32_t& grainRotated, Piece& piece) {
    contourReversed = 0;
    grainRotated = 0;
    piece.pieceName.fill('\0');
    piece.image.clear();
    piece.incomplete = false;
    piece.baseSizeLine = 0;
    Reading reading{lines};
    int32_t status;
    try {
        status = reading.run(contourReversed, grainRotated, piece);
    } catch (const std::bad_alloc&) {
        status = reading.allocStatus;
    }
    piece.stopLine = lines.linesRead;
    if (status != kEpnOk) piece.image.clear();  // no image after a failure
    return status;
}

}  // namespace

int32_t epn_parse(std::span<const uint8_t> bytes, int32_t& contourReversed,
                  int32_t& grainRotated, Piece& piece) {
    LineCursor lines(bytes);
    return read_piece(lines, contourReversed, grainRotated, piece);
}

int32_t epn_read(const char* fileName, int32_t fileNameLength, int32_t& contourReversed,
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
        if (!file.is_open()) return kEpnCannotOpen;
    }
    LineCursor lines(file);
    return read_piece(lines, contourReversed, grainRotated, piece);
}

}  // namespace teilimp::reader
