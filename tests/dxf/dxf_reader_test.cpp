#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "dxf/dxf_reader.h"

namespace teilimp::dxf {
namespace {

std::span<const uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Pairs joined with `end`; `head` stands before the first.
std::string dxf_text(std::initializer_list<const char*> lines, const std::string& end,
                     const std::string& head = "") {
    std::string s = head;
    for (const char* l : lines) s += std::string(l) + end;
    return s;
}

const std::initializer_list<const char*> kSmall = {
    "0", "SECTION", "2", "HEADER", "9", "$INSUNITS", "70", "1", "0", "ENDSEC",
    "0", "SECTION", "2", "BLOCKS", "0", "BLOCK", "8", "0", "2", "P_M", "70", "64",
    "0", "TEXT", "8", "1", "10", "1.5", "20", "2", "1", "Piece Name: P",
    "0", "POLYLINE", "8", "1", "66", "1", "70", "1", "10", "0", "20", "0",
    "0", "VERTEX", "8", "1", "10", "0", "20", "0",
    "0", "VERTEX", "8", "1", "10", "0", "20", "-10.25",
    "0", "VERTEX", "8", "1", "10", "5e1", "20", "+3",
    "0", "SEQEND", "0", "LWPOLYLINE", "8", "8", "90", "2", "70", "0",
    "10", "1", "20", "2", "10", "3", "20", "4",
    "0", "POINT", "8", "4", "10", "7", "20", "8", "50", "90",
    "0", "LINE", "8", "7", "10", "1", "20", "1", "11", "9", "21", "1",
    "0", "ATTDEF", "8", "1", "2", "Dependency", "0", "CIRCLE", "8", "9",
    "0", "MTEXT", "8", "15", "10", "1", "20", "1", "3", "ab", "1", "cd",
    "0", "ENDBLK", "0", "ENDSEC", "0", "SECTION", "2", "ENTITIES",
    "0", "TEXT", "8", "1", "1", "Units: METRIC", "0", "ENDSEC", "0", "EOF"};

TEST(DxfReader, LineEndsByteOrderMarkBlanksAndCaseGiveTheSameDrawing) {
    std::string lower = dxf_text(kSmall, "\n");
    for (const char* name : {"SECTION", "BLOCKS", "ENDSEC", "POLYLINE", "VERTEX"}) {
        std::string l = name;
        for (char& c : l) c = static_cast<char>(std::tolower(c));
        for (size_t at = 0; (at = lower.find(std::string("\n") + name + "\n", at)) != std::string::npos;)
            lower.replace(at + 1, l.size(), l);
    }
    const std::string variants[] = {
        dxf_text(kSmall, "\n"),          dxf_text(kSmall, "\r\n"),
        dxf_text(kSmall, "\r"),          dxf_text(kSmall, "\r\n", "\xEF\xBB\xBF  \r\n\r\n  "),
        lower,
    };
    for (const std::string& v : variants) {
        SCOPED_TRACE(v.substr(0, 40));
        Drawing d;
        ASSERT_TRUE(looks_like_dxf(bytes_of(v)));
        ASSERT_EQ(read_dxf(bytes_of(v), d), ReadStatus::Ok);
        EXPECT_EQ(d.headerUnits, Units::Inch);
        ASSERT_EQ(d.blocks.size(), 1u);
        const Block& b = d.blocks[0];
        EXPECT_EQ(b.name, "P_M");
        ASSERT_EQ(b.entities.size(), 6u);
        EXPECT_EQ(b.text_of(b.entities[0]), "Piece Name: P");
        const Entity& outline = b.entities[1];
        EXPECT_EQ(outline.kind, Kind::Polyline);
        EXPECT_TRUE(outline.closed);
        EXPECT_EQ(outline.layer, 1);
        ASSERT_EQ(outline.pointCount, 3u);
        EXPECT_EQ(b.points_of(outline)[1].y, -10.25);
        EXPECT_EQ(b.points_of(outline)[2].x, 50);
        EXPECT_EQ(b.points_of(outline)[2].y, 3);
        ASSERT_EQ(b.entities[2].pointCount, 2u);  // LWPOLYLINE
        EXPECT_EQ(b.points_of(b.entities[2])[1].y, 4);
        EXPECT_TRUE(b.entities[3].hasAngle);
        EXPECT_EQ(b.entities[3].angle, 90);
        EXPECT_EQ(b.points_of(b.entities[4])[1].x, 9);  // LINE end
        EXPECT_EQ(b.text_of(b.entities[5]), "abcd");     // MTEXT
        ASSERT_EQ(b.others.size(), 2u);
        EXPECT_EQ(b.others[0].type, "ATTDEF");
        EXPECT_EQ(b.others[1].layer, 9);
        ASSERT_EQ(d.entities.entities.size(), 1u);

        // The outline's layer dropped: the polyline stays, without its
        // vertices; what follows it is read as before.
        Drawing dropped;
        ASSERT_EQ(read_dxf(bytes_of(v), dropped, [](int32_t layer) { return layer == 1; }), ReadStatus::Ok);
        const Block& c = dropped.blocks[0];
        ASSERT_EQ(c.entities.size(), 6u);
        EXPECT_EQ(c.entities[1].pointCount, 0u);
        EXPECT_EQ(c.points_of(c.entities[4])[1].x, 9);
    }
}

TEST(DxfReader, BrokenFilesAreNamedSo) {
    const std::string good = dxf_text(kSmall, "\n");
    struct Case {
        std::string bytes;
        ReadStatus status;
    } cases[] = {
        {"", ReadStatus::NotDxf},
        {"0\nSECTIONS\n", ReadStatus::NotDxf},
        {"EPN header line\n", ReadStatus::NotDxf},
        {good.substr(0, good.find("ENDBLK")), ReadStatus::Malformed},   // cut inside a section
        {good.substr(0, good.rfind("0\nEOF")) , ReadStatus::Ok},       // no EOF: fine
        {good.substr(0, good.size() - 4), ReadStatus::Malformed},      // a code without its value
        {"0\nSECTION\n2\nBLOCKS\nx1\nA\n", ReadStatus::Malformed},      // a code that is no number
        {"0\nSECTION\n2\nBLOCKS\n99999\nA\n", ReadStatus::Malformed},
        {"0\nSECTION\n2\nBLOCKS\n99999999999999999999\nA\n", ReadStatus::Malformed},
        {"0\nSECTION\n2\nBLOCKS\n-6\nA\n", ReadStatus::Malformed},
        {"0\nSECTION\n2\nBLOCKS\n+\nA\n", ReadStatus::Malformed},
        {"0\nSECTION\n2\nBLOCKS\n-+5\nA\n", ReadStatus::Malformed},
        {"0\nSECTION\n2\nBLOCKS\n1 0\nA\n", ReadStatus::Malformed},
        {"0\nSECTION\n2\nBLOCKS\n\t-5 \nA\n+0\nENDSEC\n", ReadStatus::Ok},
        {"0\nSECTION\n2\nBLOCKS\n+-5\nA\n0000000000000000000000\nENDSEC\n", ReadStatus::Ok},
    };
    for (const Case& c : cases) {
        Drawing d;
        EXPECT_EQ(read_dxf(bytes_of(c.bytes), d), c.status) << c.bytes.substr(0, 60);
    }
}

// Each line's end is looked for once: a file whose lines end in lone CRs
// (no LF anywhere) was searched to its end for an LF at every line, which
// took a minute for 4 MB.
TEST(DxfReader, LoneCarriageReturnsAreReadInLinearTime) {
    const std::string one = dxf_text(kSmall, "\r");
    const size_t from = one.find("0\rBLOCK\r"), to = one.find("0\rENDSEC\r", from);
    std::string big = one.substr(0, from);
    while (big.size() < (size_t{4} << 20)) big += one.substr(from, to - from);
    big += one.substr(to);
    Drawing d;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(read_dxf(bytes_of(big), d), ReadStatus::Ok);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_GT(d.blocks.size(), 10000u);
    EXPECT_EQ(d.blocks.back().points_of(d.blocks.back().entities[1])[1].y, -10.25);
}

}  // namespace
}  // namespace teilimp::dxf
