#include "reader/piece_image.h"

#include <algorithm>
#include <cstring>

namespace teilimp::reader {

namespace {

template <size_t N>
std::array<char, N> take(const uint8_t* at) {
    std::array<char, N> field;
    std::memcpy(field.data(), at, N);
    return field;
}

// True when the field holds NUL bytes (not blanks) after its last
// character that is neither blank nor NUL, as the encoder leaves it.
template <size_t N>
bool nul_padded(const std::array<char, N>& field) {
    size_t end = N;
    while (end > 0 && (field[end - 1] == '\0' || field[end - 1] == ' ')) --end;
    for (size_t i = end; i < N; ++i)
        if (field[i] != '\0') return false;
    return true;
}

bool zero(const uint8_t* at, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (at[i] != 0) return false;
    return true;
}

// Reads the image front to back; the first fault ends the reading.
struct Decoder {
    std::span<const uint8_t> bytes;
    size_t at = 0;
    ImageFault& fault;

    bool fail(size_t offset, const char* what) {
        fault.offset = offset;
        fault.what = what;
        return false;
    }
    bool have(size_t n) const { return bytes.size() - at >= n; }
    const uint8_t* here() const { return bytes.data() + at; }

    bool header(ImageHeader& h);
    bool sizes(const ImageHeader& h, std::vector<SizeEntry>& out);
    bool rules(const ImageHeader& h, std::vector<RuleBlock>& out);
    bool point(PointRecord& p);
    bool lines(const ImageHeader& h, std::vector<ImageLine>& out);
};

bool Decoder::header(ImageHeader& h) {
    if (!have(kPieceHeaderLength)) return fail(0, "Bild k\x81rzer als sein Kopf");
    const uint8_t* b = here();
    if (b[79] != kHeaderMark) return fail(79, "Kopfkennung fehlt");
    h.text1 = take<20>(b + 0);
    h.text2 = take<20>(b + 20);
    h.pieceKind = b[40];
    h.nameChar8 = static_cast<char>(b[41]);
    h.sizeCount = get16(b + 42);
    h.lastStepIndex = get16(b + 44);
    h.baseSize = take<6>(b + 46);
    h.baseSizeIndex = get16(b + 54);
    h.sizeNameKind = b[56];
    h.trailerText = take<20>(b + 59);
    h.ruleCount = get16(b + 80);
    h.perimeterCount = get16(b + 84);
    h.lineCount = get16(b + 86);
    if (!nul_padded(h.text1) || !nul_padded(h.text2) || !nul_padded(h.trailerText))
        return fail(0, "Text im Kopf nicht mit NUL aufgef\x81llt");
    if (h.pieceKind != 0 && h.pieceKind != 2) return fail(40, "Teileart weder 0 noch 2");
    if (h.sizeCount < 1) return fail(42, "Anzahl der Gr\x94\xe1" "en kleiner als 1");
    if (h.lastStepIndex != std::max(h.sizeCount - 2, 0)) return fail(44, "Stufenzahl passt nicht zur Gr\x94\xe1" "enzahl");
    if (!nul_padded(h.baseSize) || std::memcmp(b + 46, b + 90, 6) != 0)
        return fail(46, "Basisgr\x94\xe1" "e ung\x81ltig oder ihre zwei Kopien verschieden");
    if (h.baseSizeIndex < 0 || h.baseSizeIndex >= h.sizeCount) return fail(54, "Index der Basisgr\x94\xe1" "e au\xe1" "erhalb der Gr\x94\xe1" "en");
    if (h.sizeNameKind > 1) return fail(56, "Art der Gr\x94\xe1" "ennamen weder 0 noch 1");
    if (h.ruleCount < 0 || h.perimeterCount < 0 || h.lineCount < 0) return fail(80, "negative Anzahl im Kopf");
    if (get16(b + 88) != h.lineCount) return fail(88, "Linienzahl und ihre Kopie verschieden");
    if (!zero(b + 52, 2) || !zero(b + 57, 2) || !zero(b + 82, 2) || !zero(b + 96, 2))
        return fail(52, "reservierte Bytes im Kopf nicht 0");
    at += kPieceHeaderLength;
    return true;
}

bool Decoder::sizes(const ImageHeader& h, std::vector<SizeEntry>& out) {
    const auto count = static_cast<size_t>(h.sizeCount);
    if (have(count * kSizeEntryLength)) out.reserve(count);
    for (size_t k = 0; k < count; ++k) {
        if (!have(kSizeEntryLength)) return fail(at, "Bild endet in der Gr\x94\xe1" "entabelle");
        const uint8_t* b = here();
        SizeEntry s;
        s.name = take<6>(b);
        s.inner = b[8];
        const bool outer = k == 0 || k + 1 == count;
        if (!nul_padded(s.name) || !zero(b + 6, 2) || b[9] != 0 || s.inner > 1 || (outer && s.inner != 0))
            return fail(at, "Eintrag der Gr\x94\xe1" "entabelle ung\x81ltig");
        out.push_back(s);
        at += kSizeEntryLength;
    }
    return true;
}

bool Decoder::rules(const ImageHeader& h, std::vector<RuleBlock>& out) {
    const auto steps = static_cast<size_t>(h.lastStepIndex) + 1;
    const size_t blockLength = kRuleHeaderLength + steps * kRuleStepLength;
    // The blocks that are there; blocks already in `out` keep their room.
    const auto count = std::min(static_cast<size_t>(h.ruleCount), (bytes.size() - at) / blockLength);
    out.resize(count);
    for (RuleBlock& block : out) {
        const uint8_t* b = here();
        if (!zero(b + 2, kRuleHeaderLength - 2)) return fail(at, "Kopf eines Regelblocks ung\x81ltig");
        block.ruleNumber = get16(b);
        b += kRuleHeaderLength;
        block.steps.resize(steps);
        for (RuleStep& step : block.steps) {
            step = {get32(b), get32(b + 4)};
            b += kRuleStepLength;
        }
        at += blockLength;
    }
    if (count < static_cast<size_t>(h.ruleCount)) return fail(at, "Bild endet in den Regelbl\x94" "cken");
    return true;
}

bool Decoder::point(PointRecord& p) {
    const int32_t n = decode_point(here(), bytes.size() - at, p);
    if (n == 0) return fail(at, "Punktsatz ung\x81ltig");
    at += static_cast<size_t>(n);
    return true;
}

bool Decoder::lines(const ImageHeader& h, std::vector<ImageLine>& out) {
    for (int32_t k = 0; k < h.lineCount; ++k) {
        if (!have(kLineHeaderLength)) return fail(at, "Bild endet vor einem Linienkopf");
        const uint8_t* b = here();
        ImageLine line;
        line.index = get16(b);
        line.type = static_cast<char>(b[2]);
        const int16_t count = get16(b + 4);
        if (line.index != k || b[3] != 0 || count < 1 || !zero(b + 6, 4))
            return fail(at, "Linienkopf ung\x81ltig");
        at += kLineHeaderLength;
        line.points.resize(static_cast<size_t>(count));
        for (PointRecord& p : line.points)
            if (!point(p)) return false;
        out.push_back(std::move(line));
    }
    return true;
}

}  // namespace

void encode_header(const ImageHeader& h, uint8_t* out) {
    std::memset(out, 0, kPieceHeaderLength);
    std::memcpy(out + 0, h.text1.data(), 20);
    std::memcpy(out + 20, h.text2.data(), 20);
    out[40] = h.pieceKind;
    out[41] = static_cast<uint8_t>(h.nameChar8);
    put16(out + 42, h.sizeCount);
    put16(out + 44, h.lastStepIndex);
    std::memcpy(out + 46, h.baseSize.data(), 6);
    put16(out + 54, h.baseSizeIndex);
    out[56] = h.sizeNameKind;
    std::memcpy(out + 59, h.trailerText.data(), 20);
    out[79] = kHeaderMark;
    put16(out + 80, h.ruleCount);
    put16(out + 84, h.perimeterCount);
    put16(out + 86, h.lineCount);
    put16(out + 88, h.lineCount);
    std::memcpy(out + 90, h.baseSize.data(), 6);
}

void encode_size_entry(const SizeEntry& s, uint8_t* out) {
    std::memset(out, 0, kSizeEntryLength);
    std::memcpy(out, s.name.data(), 6);
    out[8] = s.inner;
}

void encode_line_header(int32_t index, char type, int32_t pointCount, uint8_t* out) {
    std::memset(out, 0, kLineHeaderLength);
    put16(out + 0, index);
    out[2] = static_cast<uint8_t>(type);
    put16(out + 4, pointCount);
}

std::vector<uint8_t> encode_image(const PieceImage& image) {
    std::vector<uint8_t> out;
    encode_image(image, out);
    return out;
}

void encode_image(const PieceImage& image, std::vector<uint8_t>& out) {
    // The length first, so that the bytes are written in place.
    size_t length = kPieceHeaderLength + image.sizes.size() * kSizeEntryLength + kClosingBytes;
    for (const RuleBlock& r : image.rules) length += kRuleHeaderLength + r.steps.size() * kRuleStepLength;
    uint8_t buf[kMaxRulePointRecord];
    for (const PointRecord& p : image.perimeter) length += static_cast<size_t>(encode_point(p, buf));
    for (const ImageLine& line : image.lines) {
        length += kLineHeaderLength;
        for (const PointRecord& p : line.points) length += static_cast<size_t>(encode_point(p, buf));
    }

    out.assign(length, 0);
    uint8_t* at = out.data();
    encode_header(image.header, at);
    at += kPieceHeaderLength;
    for (const SizeEntry& s : image.sizes) {
        encode_size_entry(s, at);
        at += kSizeEntryLength;
    }
    for (const RuleBlock& r : image.rules) {
        put16(at, r.ruleNumber);  // the rest of the rule header stays zero
        at += kRuleHeaderLength;
        for (const RuleStep& s : r.steps) {
            put32(at, s.dx);
            put32(at + 4, s.dy);
            at += kRuleStepLength;
        }
    }
    // A record is encoded into room of its longest form, then copied.
    auto put_point = [&at, &buf](const PointRecord& p) {
        const auto n = static_cast<size_t>(encode_point(p, buf));
        std::memcpy(at, buf, n);
        at += n;
    };
    for (const PointRecord& p : image.perimeter) put_point(p);
    for (const ImageLine& line : image.lines) {
        encode_line_header(line.index, line.type, static_cast<int32_t>(line.points.size()), at);
        at += kLineHeaderLength;
        for (const PointRecord& p : line.points) put_point(p);
    }
    // The closing bytes are the zeros left at the end.
}

bool decode_image(std::span<const uint8_t> bytes, PieceImage& out, ImageFault& fault) {
    // Everything is read anew; the rule blocks keep their room (a caller
    // that decodes image after image into one PieceImage allocates little).
    out.header = ImageHeader{};
    out.sizes.clear();
    out.perimeter.clear();
    out.lines.clear();
    Decoder d{bytes, 0, fault};
    if (!d.header(out.header) || !d.sizes(out.header, out.sizes) || !d.rules(out.header, out.rules))
        return false;
    out.perimeter.resize(static_cast<size_t>(out.header.perimeterCount));
    for (PointRecord& p : out.perimeter)
        if (!d.point(p)) return false;
    if (!d.lines(out.header, out.lines)) return false;
    if (!d.have(kClosingBytes) || !zero(d.here(), kClosingBytes))
        return d.fail(d.at, "Abschluss von 6 Nullbytes fehlt");
    if (d.at + kClosingBytes != bytes.size()) return d.fail(d.at + kClosingBytes, "Bytes nach dem Abschluss");
    return true;
}

}  // namespace teilimp::reader
