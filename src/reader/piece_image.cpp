#include "reader/piece_image.h"

#include <algorithm>
#include <cstring>

namespace teilimp::reader {

namespace {

constexpr int64_t kMaxCount16 = 32767;

template <size_t N>
std::array<char, N> take(const uint8_t* at) {
    std::array<char, N> field;
    std::memcpy(field.data(), at, N);
    return field;
}

// True when the field holds NUL bytes (not blanks) after its last
// character that is neither blank nor NUL, as the reader leaves it.
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

size_t step_count(size_t sizeCount) { return sizeCount < 2 ? 1 : sizeCount - 1; }

bool fits32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

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

    struct Counts {
        size_t sizes = 0;
        size_t rules = 0;
        size_t perimeter = 0;
        size_t lines = 0;
    };

    bool header(const Text20* name, PieceModel& m, Counts& c);
    bool sizes(size_t count, std::vector<ModelSize>& out);
    bool rules(const PieceModel& m, size_t count, std::vector<ModelRule>& out);
    bool point(ModelPoint& p);
    bool lines(size_t count, std::vector<ModelLine>& out);
};

bool Decoder::header(const Text20* name, PieceModel& m, Counts& c) {
    if (!have(kPieceHeaderLength)) return fail(0, "Bild k\x81rzer als sein Kopf");
    const uint8_t* b = here();
    if (b[79] != kHeaderMark) return fail(79, "Kopfkennung fehlt");
    m.text1 = take<20>(b + 0);
    m.text2 = take<20>(b + 20);
    const uint8_t pieceKind = b[40];
    const int16_t sizeCount = get16(b + 42);
    const int16_t lastStepIndex = get16(b + 44);
    m.baseSize = take<6>(b + 46);
    m.baseSizeIndex = get16(b + 54);
    const uint8_t sizeNameKind = b[56];
    m.trailerText = take<20>(b + 59);
    const int16_t ruleCount = get16(b + 80);
    const int16_t perimeterCount = get16(b + 84);
    const int16_t lineCount = get16(b + 86);
    if (!nul_padded(m.text1) || !nul_padded(m.text2) || !nul_padded(m.trailerText))
        return fail(0, "Text im Kopf nicht mit NUL aufgef\x81llt");
    if (pieceKind != 0 && pieceKind != 2) return fail(40, "Teileart weder 0 noch 2");
    if (name != nullptr && static_cast<uint8_t>((*name)[7]) != b[41])
        return fail(41, "achtes Zeichen des Namens passt nicht zum Namen in der Steuerdatei");
    if (sizeCount < 1) return fail(42, "Anzahl der Gr\x94\xe1" "en kleiner als 1");
    if (lastStepIndex != std::max(sizeCount - 2, 0)) return fail(44, "Stufenzahl passt nicht zur Gr\x94\xe1" "enzahl");
    if (!nul_padded(m.baseSize) || std::memcmp(b + 46, b + 90, 6) != 0)
        return fail(46, "Basisgr\x94\xe1" "e ung\x81ltig oder ihre zwei Kopien verschieden");
    if (m.baseSizeIndex < 0 || m.baseSizeIndex >= sizeCount) return fail(54, "Index der Basisgr\x94\xe1" "e au\xe1" "erhalb der Gr\x94\xe1" "en");
    if (sizeNameKind > 1) return fail(56, "Art der Gr\x94\xe1" "ennamen weder 0 noch 1");
    if (ruleCount < 0 || perimeterCount < 0 || lineCount < 0) return fail(80, "negative Anzahl im Kopf");
    if (get16(b + 88) != lineCount) return fail(88, "Linienzahl und ihre Kopie verschieden");
    if (!zero(b + 52, 2) || !zero(b + 57, 2) || !zero(b + 82, 2) || !zero(b + 96, 2))
        return fail(52, "reservierte Bytes im Kopf nicht 0");
    if (name != nullptr) {
        m.name = *name;
    } else {
        m.name = Text20{};
        m.name[7] = static_cast<char>(b[41]);
    }
    m.mirrored = pieceKind == 2;
    m.numericNames = sizeNameKind == 0;
    c = {static_cast<size_t>(sizeCount), static_cast<size_t>(ruleCount), static_cast<size_t>(perimeterCount),
         static_cast<size_t>(lineCount)};
    at += kPieceHeaderLength;
    return true;
}

bool Decoder::sizes(size_t count, std::vector<ModelSize>& out) {
    out.resize(count);
    for (size_t k = 0; k < count; ++k) {
        if (!have(kSizeEntryLength)) return fail(at, "Bild endet in der Gr\x94\xe1" "entabelle");
        const uint8_t* b = here();
        ModelSize& s = out[k];
        s.name = take<6>(b);
        const uint8_t inner = b[8];
        const bool outer = k == 0 || k + 1 == count;
        if (!nul_padded(s.name) || !zero(b + 6, 2) || b[9] != 0 || inner > 1 || (outer && inner != 0))
            return fail(at, "Eintrag der Gr\x94\xe1" "entabelle ung\x81ltig");
        s.inner = inner == 1;
        at += kSizeEntryLength;
    }
    return true;
}

// A rule's steps become its offsets from the base size: the running sum of
// the steps, less its value at the base size.
bool Decoder::rules(const PieceModel& m, size_t count, std::vector<ModelRule>& out) {
    const size_t sizeCount = m.sizes.size();
    const size_t steps = step_count(sizeCount);
    const size_t blockLength = kRuleHeaderLength + steps * kRuleStepLength;
    // The blocks that are there; rules already in `out` keep their room.
    const size_t there = std::min(count, (bytes.size() - at) / blockLength);
    out.resize(there);
    const auto base = static_cast<size_t>(m.baseSizeIndex);
    for (ModelRule& rule : out) {
        const uint8_t* b = here();
        if (!zero(b + 2, kRuleHeaderLength - 2)) return fail(at, "Kopf eines Regelblocks ung\x81ltig");
        rule.number = get16(b);
        b += kRuleHeaderLength;
        rule.offsets.assign(sizeCount, Offset{});
        rule.oneSize = {};
        if (sizeCount == 1) {
            rule.oneSize = {get32(b), get32(b + 4)};
        } else {
            Offset sum;
            for (size_t k = 0; k < steps; ++k, b += kRuleStepLength) {
                sum.dx += get32(b);
                sum.dy += get32(b + 4);
                rule.offsets[k + 1] = sum;
            }
            const Offset at_base = rule.offsets[base];
            for (Offset& o : rule.offsets) o = {o.dx - at_base.dx, o.dy - at_base.dy};
        }
        at += blockLength;
    }
    if (there < count) return fail(at, "Bild endet in den Regelbl\x94" "cken");
    return true;
}

bool Decoder::point(ModelPoint& p) {
    const int32_t n = decode_point(here(), bytes.size() - at, p);
    if (n == 0) return fail(at, "Punktsatz ung\x81ltig");
    at += static_cast<size_t>(n);
    return true;
}

bool Decoder::lines(size_t count, std::vector<ModelLine>& out) {
    for (size_t k = 0; k < count; ++k) {
        if (!have(kLineHeaderLength)) return fail(at, "Bild endet vor einem Linienkopf");
        const uint8_t* b = here();
        ModelLine line;
        line.type = static_cast<char>(b[2]);
        const int16_t points = get16(b + 4);
        if (get16(b) != static_cast<int16_t>(k) || b[3] != 0 || points < 1 || !zero(b + 6, 4))
            return fail(at, "Linienkopf ung\x81ltig");
        at += kLineHeaderLength;
        line.points.resize(static_cast<size_t>(points));
        for (ModelPoint& p : line.points)
            if (!point(p)) return false;
        out.push_back(std::move(line));
    }
    return true;
}

bool model_fault(ImageFault& fault, const char* what) {
    fault.offset = 0;
    fault.what = what;
    return false;
}

// The bytes of the header, the size table, the rule blocks and the closing.
int64_t fixed_length(const PieceModel& m) {
    const auto steps = static_cast<int64_t>(step_count(m.sizes.size()));
    return kPieceHeaderLength + kSizeEntryLength * static_cast<int64_t>(m.sizes.size()) + kClosingBytes +
           (kRuleHeaderLength + kRuleStepLength * steps) * static_cast<int64_t>(m.rules.size());
}

// The checks of encode_piece: everything the layout cannot hold, and
// everything decode_piece would not give back as it is. On success also
// the image's length.
bool check_model(const PieceModel& m, int64_t& length, ImageFault& fault) {
    if (m.sizes.empty() || m.sizes.size() > kMaxCount16) return model_fault(fault, "Anzahl der Gr\x94\xe1" "en nicht 1 bis 32767");
    if (m.rules.size() > kMaxCount16 || m.contour.size() > kMaxCount16 || m.lines.size() > kMaxCount16)
        return model_fault(fault, "mehr als 32767 Regeln, Konturpunkte oder Linien");
    if (m.baseSizeIndex < 0 || static_cast<size_t>(m.baseSizeIndex) >= m.sizes.size())
        return model_fault(fault, "Index der Basisgr\x94\xe1" "e au\xe1" "erhalb der Gr\x94\xe1" "en");
    if (!nul_padded(m.text1) || !nul_padded(m.text2) || !nul_padded(m.trailerText) || !nul_padded(m.baseSize))
        return model_fault(fault, "Text nicht mit NUL aufgef\x81llt");
    for (size_t k = 0; k < m.sizes.size(); ++k) {
        const bool outer = k == 0 || k + 1 == m.sizes.size();
        if (!nul_padded(m.sizes[k].name) || (outer && m.sizes[k].inner))
            return model_fault(fault, "Eintrag der Gr\x94\xe1" "entabelle ung\x81ltig");
    }
    const auto base = static_cast<size_t>(m.baseSizeIndex);
    for (const ModelRule& r : m.rules) {
        if (r.offsets.size() != m.sizes.size() || r.offsets[base] != Offset{})
            return model_fault(fault, "Regel ohne einen Wert je Gr\x94\xe1" "e oder nicht 0 in der Basisgr\x94\xe1" "e");
        if (m.sizes.size() == 1) {
            if (!fits32(r.oneSize.dx) || !fits32(r.oneSize.dy)) return model_fault(fault, "Regelwert au\xe1" "erhalb 32 Bit");
            continue;
        }
        if (r.oneSize != Offset{}) return model_fault(fault, "Wert einer Gr\x94\xe1" "e bei mehreren Gr\x94\xe1" "en");
        for (size_t k = 0; k + 1 < r.offsets.size(); ++k)
            if (!fits32(r.offsets[k + 1].dx - r.offsets[k].dx) || !fits32(r.offsets[k + 1].dy - r.offsets[k].dy))
                return model_fault(fault, "Regelstufe au\xe1" "erhalb 32 Bit");
    }
    auto point_ok = [](const ModelPoint& p) {
        if (p.rule < 0) return false;
        if (p.rule > 0) return !p.cMark && (!p.directed || notch_takes_direction(p.notch));
        return !p.directed && p.dirX == 0 && p.dirY == 0;
    };
    // The points last, with the length of their records.
    int64_t bytes = 0;
    for (const ModelPoint& p : m.contour) {
        if (!point_ok(p)) return model_fault(fault, "Punkt mit Richtung oder C-Marke, die er nicht tragen kann");
        bytes += record_length(p);
    }
    for (const ModelLine& line : m.lines) {
        if (line.points.empty() || line.points.size() > kMaxCount16)
            return model_fault(fault, "Linie ohne Punkte oder mit mehr als 32767");
        bytes += kLineHeaderLength;
        for (const ModelPoint& p : line.points) {
            if (!point_ok(p)) return model_fault(fault, "Punkt mit Richtung oder C-Marke, die er nicht tragen kann");
            bytes += record_length(p);
        }
    }
    length = fixed_length(m) + bytes;
    return true;
}

void encode_header(const PieceModel& m, uint8_t* out) {
    const auto sizeCount = static_cast<int32_t>(m.sizes.size());
    const auto lineCount = static_cast<int32_t>(m.lines.size());
    // The caller's buffer is zero: only the fields are written.
    std::memcpy(out + 0, m.text1.data(), 20);
    std::memcpy(out + 20, m.text2.data(), 20);
    out[40] = m.mirrored ? 2 : 0;
    out[41] = static_cast<uint8_t>(m.name[7]);
    put16(out + 42, sizeCount);
    put16(out + 44, std::max(sizeCount - 2, 0));
    std::memcpy(out + 46, m.baseSize.data(), 6);
    put16(out + 54, m.baseSizeIndex);
    out[56] = m.numericNames ? 0 : 1;
    std::memcpy(out + 59, m.trailerText.data(), 20);
    out[79] = kHeaderMark;
    put16(out + 80, static_cast<int32_t>(m.rules.size()));
    put16(out + 84, static_cast<int32_t>(m.contour.size()));
    put16(out + 86, lineCount);
    put16(out + 88, lineCount);
    std::memcpy(out + 90, m.baseSize.data(), 6);
}

}  // namespace

int64_t image_length(const PieceModel& m) {
    int64_t length = fixed_length(m);
    for (const ModelPoint& p : m.contour) length += record_length(p);
    for (const ModelLine& line : m.lines) {
        length += kLineHeaderLength;
        for (const ModelPoint& p : line.points) length += record_length(p);
    }
    return length;
}

bool encode_piece(const PieceModel& m, util::Bytes& out, ImageFault& fault) {
    // The length first, so that the bytes are written in place into a
    // buffer of zeros.
    int64_t length = 0;
    if (!check_model(m, length, fault)) return false;
    out.assign(static_cast<size_t>(length), 0);
    uint8_t* at = out.data();
    encode_header(m, at);
    at += kPieceHeaderLength;
    for (size_t k = 0; k < m.sizes.size(); ++k, at += kSizeEntryLength) {
        std::memcpy(at, m.sizes[k].name.data(), 6);
        at[8] = m.sizes[k].inner ? 1 : 0;
    }
    for (const ModelRule& r : m.rules) {
        put16(at, r.number);  // the rest of the rule header stays zero
        at += kRuleHeaderLength;
        if (m.sizes.size() == 1) {
            put32(at, static_cast<int32_t>(r.oneSize.dx));
            put32(at + 4, static_cast<int32_t>(r.oneSize.dy));
            at += kRuleStepLength;
            continue;
        }
        for (size_t k = 0; k + 1 < r.offsets.size(); ++k, at += kRuleStepLength) {
            put32(at, static_cast<int32_t>(r.offsets[k + 1].dx - r.offsets[k].dx));
            put32(at + 4, static_cast<int32_t>(r.offsets[k + 1].dy - r.offsets[k].dy));
        }
    }
    for (const ModelPoint& p : m.contour) at += encode_point_zeroed(p, at);
    for (size_t k = 0; k < m.lines.size(); ++k) {
        const ModelLine& line = m.lines[k];
        put16(at, static_cast<int32_t>(k));
        at[2] = static_cast<uint8_t>(line.type);
        put16(at + 4, static_cast<int32_t>(line.points.size()));
        at += kLineHeaderLength;
        for (const ModelPoint& p : line.points) at += encode_point_zeroed(p, at);
    }
    // The closing bytes are the zeros left at the end.
    return true;
}

bool decode_piece(std::span<const uint8_t> image, const Text20* name, PieceModel& out, ImageFault& fault) {
    // Everything is read anew; the rules keep their room (a caller that
    // decodes image after image into one model allocates little).
    out.contour.clear();
    out.lines.clear();
    Decoder d{image, 0, fault};
    Decoder::Counts c;
    if (!d.header(name, out, c) || !d.sizes(c.sizes, out.sizes) || !d.rules(out, c.rules, out.rules)) return false;
    out.contour.resize(c.perimeter);
    for (ModelPoint& p : out.contour)
        if (!d.point(p)) return false;
    if (!d.lines(c.lines, out.lines)) return false;
    if (!d.have(kClosingBytes) || !zero(d.here(), kClosingBytes))
        return d.fail(d.at, "Abschluss von 6 Nullbytes fehlt");
    if (d.at + kClosingBytes != image.size()) return d.fail(d.at + kClosingBytes, "Bytes nach dem Abschluss");
    return true;
}

}  // namespace teilimp::reader
