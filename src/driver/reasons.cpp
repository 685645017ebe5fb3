#include "driver/reasons.h"

#include <string_view>

#include "reader/epn_reader.h"

namespace teilimp::driver {

namespace {

// Code page 850: 0x81 u-umlaut, 0x84 a-umlaut, 0x94 o-umlaut, 0xE1 sharp s.
constexpr std::string_view kNoMemory = "zu wenig Arbeitsspeicher";

std::string conversion_reason(int32_t status, int32_t stopLine, bool incomplete = false) {
    const std::string at = "Zeile " + std::to_string(stopLine) + ": ";
    switch (status) {
    case reader::kEpnNoPerimeterTable:
    case reader::kEpnNoInternalTable:
        return std::string(kNoMemory) + " f\x81r die Punkte";
    case reader::kEpnCannotOpen:
        return "EPN-Datei l\x84sst sich nicht \x94" "ffnen";
    case reader::kEpnBadHeaderOrTrailer:
        // The header is line 1; a file that ends there or later lacks its
        // closing line with the sizes.
        if (stopLine == 0) return "Zeile 1: die Datei ist leer";
        if (incomplete) return at + "Gr\x94\xE1" "en oder Gradierung unvollst\x84ndig";
        if (stopLine == 1)
            return at + "Kopfzeile unlesbar oder nicht EPN-Format 3, oder die Schlusszeile fehlt";
        return at + "Schlusszeile mit den Gr\x94\xE1" "en fehlt oder ist unlesbar";
    case reader::kEpnBadPieceKind:
        return at + "Teileart ist weder MIRRORED noch CLOSED";
    case reader::kEpnNoSizeTable:
    case reader::kEpnNoStepTable:
    case reader::kEpnNoGradeTable:
        return std::string(kNoMemory) + " f\x81r Gr\x94\xE1" "en und Gradierung";
    case reader::kEpnNoSectionBuffers:
    case reader::kEpnNoImage:
        return std::string(kNoMemory) + " f\x81r das Teil";
    case reader::kEpnOutOfLimits:
        return at + "zu viele Punkte, Gr\x94\xE1" "en oder Regeln, oder ein Wert zu gro\xE1";
    case reader::kEpnNoName:
        return at + "Teil ohne Namen";
    case reader::kEpnUnreadableNumber:
        return at + "Zahl unlesbar";
    default:
        return "";
    }
}

std::string control_reason(int32_t status) {
    switch (status) {
    case 1: return "Bereich ist nicht eingerichtet: einmal mit /d leeren";
    case 2: return "Steuerdatei piece.ctl ist schreibgesch\x81tzt oder nicht beschreibbar";
    case 3: return "Sicherung der Steuerdatei l\x84sst sich nicht lesen";
    case 4: return "Steuerdatei piece.ctl ist besch\x84" "digt oder unlesbar (kein Schlusssatz)";
    case 5: return "Steuerdatei piece.ctl ist besch\x84" "digt (ung\x81ltiger n\x84" "chster Platz)";
    case 6: return "neuer Eintrag l\x84sst sich nicht schreiben (Platte voll?)";
    case 7: return "Steuerdatei piece.ctl l\x84sst sich nicht schreiben (Platte voll?)";
    case 8: return "Steuerdatei piece.ctl ist besch\x84" "digt (ung\x81ltiger Dateicode)";
    case 9: return "Bereich ist voll: er nimmt keine weiteren Teile auf";
    default: return "";
    }
}

std::string piece_file_reason(int32_t status, std::string_view file) {
    switch (status) {
    case 1: return "ung\x81ltiger Platz f\x81r das Teil (Steuerdatei besch\x84" "digt)";
    case 2: return "Teiledatei l\x84sst sich nicht sichern";
    case 3: return "Sicherung der Teiledatei l\x84sst sich nicht lesen";
    case 4: return "Teiledatei ist schreibgesch\x81tzt oder nicht beschreibbar";
    case 5: return "Kopf der Teiledatei ist unlesbar (Teiledatei besch\x84" "digt)";
    case 6: return "Verzeichnis der Teiledatei ist unlesbar (Teiledatei besch\x84" "digt)";
    case 7: return "Kopf der Teiledatei l\x84sst sich nicht schreiben";
    case 8: return "Verzeichnis der Teiledatei l\x84sst sich nicht schreiben";
    case 9: return "ein fr\x81her gespeichertes Teil l\x84sst sich nicht umkopieren";
    case 10: return "Teil l\x84sst sich nicht in die Teiledatei schreiben (Platte voll?)";
    case 11:
        return "Platz in " + std::string(file.empty() ? "der Teiledatei" : file) +
               " ist schon belegt: Bereich mit teilarea check pr\x81" "fen";
    default: return "";
    }
}

std::string sort_reason(int32_t status) {
    switch (status) {
    case 1: return "Steuerdatei piece.ctl l\x84sst sich nicht \x94" "ffnen";
    case 2: return std::string(kNoMemory) + " zum Sortieren";
    case 3: return "Steuerdatei piece.ctl ist unvollst\x84ndig oder unlesbar";
    case 4: return "sortierte Steuerdatei l\x84sst sich nicht schreiben; sie bleibt unsortiert";
    default: return "";
    }
}

}  // namespace

std::string reason_line(StatusSource source, int32_t status, int32_t stopLine, std::string_view pieceFile) {
    std::string reason;
    switch (source) {
    case StatusSource::Conversion: reason = conversion_reason(status, stopLine); break;
    case StatusSource::ControlUpdate: reason = control_reason(status); break;
    case StatusSource::PieceFile: reason = piece_file_reason(status, pieceFile); break;
    case StatusSource::Sort: reason = sort_reason(status); break;
    }
    if (reason.empty()) reason = "unbekannter Fehler";
    return "   (" + reason + ")";
}

std::string control_missing_reason_line() {
    return "   (Steuerdatei fehlt, Teiledateien sind da: mit teilarea repair wiederherstellen)";
}

std::string conversion_reason_line(int32_t status, const reader::Piece& piece) {
    if (status == reader::kEpnBadHeaderOrTrailer && piece.incomplete)
        return "   (" + conversion_reason(status, piece.stopLine, true) + ")";
    return reason_line(StatusSource::Conversion, status, piece.stopLine);
}

std::string base_size_warning(const reader::Piece& piece) {
    if (piece.baseSizeLine == 0) return "";
    return "   Achtung: Basisgr\x94\xE1" "e nicht unter den Gr\x94\xE1" "en (Zeile " +
           std::to_string(piece.baseSizeLine) + "); die erste Gr\x94\xE1" "e gilt als Basis.";
}

}  // namespace teilimp::driver
