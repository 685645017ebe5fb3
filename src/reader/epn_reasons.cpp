// The reasons of the reader's statuses, in the words of the people who use
// the programs (code page 850: 0x81 u-umlaut, 0x84 a-umlaut, 0x94 o-umlaut,
// 0xE1 sharp s).
#include <string>
#include <string_view>

#include "reader/epn_reader.h"

namespace teilimp::reader {

namespace {

constexpr std::string_view kNoMemory = "zu wenig Arbeitsspeicher";

}  // namespace

std::string epn_reason(EpnStatus status, const Piece& piece) {
    const int32_t stopLine = piece.stopLine;
    const std::string at = "Zeile " + std::to_string(stopLine) + ": ";
    switch (status) {
    case EpnStatus::Ok:
        return "";
    case EpnStatus::NoPerimeterTable:
    case EpnStatus::NoInternalTable:
        return std::string(kNoMemory) + " f\x81r die Punkte";
    case EpnStatus::CannotOpen:
        return "EPN-Datei l\x84sst sich nicht \x94" "ffnen";
    case EpnStatus::BadHeaderOrTrailer:
        // The header is line 1; a file that ends there or later lacks its
        // closing line with the sizes.
        if (stopLine == 0) return "Zeile 1: die Datei ist leer";
        if (piece.incomplete) return at + "Gr\x94\xE1" "en oder Gradierung unvollst\x84ndig";
        if (stopLine == 1)
            return at + "Kopfzeile unlesbar oder nicht EPN-Format 3, oder die Schlusszeile fehlt";
        return at + "Schlusszeile mit den Gr\x94\xE1" "en fehlt oder ist unlesbar";
    case EpnStatus::BadPieceKind:
        return at + "Teileart ist weder MIRRORED noch CLOSED";
    case EpnStatus::NoSizeTable:
    case EpnStatus::NoStepTable:
    case EpnStatus::NoGradeTable:
        return std::string(kNoMemory) + " f\x81r Gr\x94\xE1" "en und Gradierung";
    case EpnStatus::NoSectionBuffers:
    case EpnStatus::NoImage:
        return std::string(kNoMemory) + " f\x81r das Teil";
    case EpnStatus::OutOfLimits:
        return at + "zu viele Punkte, Gr\x94\xE1" "en oder Regeln, oder ein Wert zu gro\xE1";
    case EpnStatus::NoName:
        return at + "Teil ohne Namen";
    case EpnStatus::UnreadableNumber:
        return at + "Zahl unlesbar";
    }
    return "";
}

std::string base_size_warning(const Piece& piece) {
    if (piece.baseSizeLine == 0) return "";
    return "   Achtung: Basisgr\x94\xE1" "e nicht unter den Gr\x94\xE1" "en (Zeile " +
           std::to_string(piece.baseSizeLine) + "); die erste Gr\x94\xE1" "e gilt als Basis.";
}

}  // namespace teilimp::reader
