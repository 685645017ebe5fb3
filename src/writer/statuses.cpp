// The reasons of the writer's statuses, in the words of the people who use
// the programs (code page 850: 0x81 u-umlaut, 0x84 a-umlaut, 0x94 o-umlaut).
#include "writer/statuses.h"

namespace teilimp::writer {

std::string reason(CtlStatus status) {
    switch (status) {
    case CtlStatus::Ok: return "";
    case CtlStatus::NotSetUp: return "Bereich ist nicht eingerichtet: einmal mit /d leeren";
    case CtlStatus::NotWritable: return "Steuerdatei piece.ctl ist schreibgesch\x81tzt oder nicht beschreibbar";
    case CtlStatus::BackupUnreadable: return "Sicherung der Steuerdatei l\x84sst sich nicht lesen";
    case CtlStatus::Damaged: return "Steuerdatei piece.ctl ist besch\x84" "digt oder unlesbar (kein Schlusssatz)";
    case CtlStatus::BadNextPlace: return "Steuerdatei piece.ctl ist besch\x84" "digt (ung\x81ltiger n\x84" "chster Platz)";
    case CtlStatus::EntryNotWritten: return "neuer Eintrag l\x84sst sich nicht schreiben (Platte voll?)";
    case CtlStatus::NotWritten: return "Steuerdatei piece.ctl l\x84sst sich nicht schreiben (Platte voll?)";
    case CtlStatus::BadFileCode: return "Steuerdatei piece.ctl ist besch\x84" "digt (ung\x81ltiger Dateicode)";
    case CtlStatus::Full: return "Bereich ist voll: er nimmt keine weiteren Teile auf";
    }
    return "";
}

std::string reason(PceStatus status, std::string_view pieceFile) {
    switch (status) {
    case PceStatus::Ok: return "";
    case PceStatus::BadPlace: return "ung\x81ltiger Platz f\x81r das Teil (Steuerdatei besch\x84" "digt)";
    case PceStatus::NoBackup: return "Teiledatei l\x84sst sich nicht sichern";
    case PceStatus::BackupUnreadable: return "Sicherung der Teiledatei l\x84sst sich nicht lesen";
    case PceStatus::NotWritable: return "Teiledatei ist schreibgesch\x81tzt oder nicht beschreibbar";
    case PceStatus::HeadUnreadable: return "Kopf der Teiledatei ist unlesbar (Teiledatei besch\x84" "digt)";
    case PceStatus::DirectoryUnreadable:
        return "Verzeichnis der Teiledatei ist unlesbar (Teiledatei besch\x84" "digt)";
    case PceStatus::HeadNotWritten: return "Kopf der Teiledatei l\x84sst sich nicht schreiben";
    case PceStatus::DirectoryNotWritten: return "Verzeichnis der Teiledatei l\x84sst sich nicht schreiben";
    case PceStatus::EarlierNotCopied: return "ein fr\x81her gespeichertes Teil l\x84sst sich nicht umkopieren";
    case PceStatus::ImageNotWritten:
        return "Teil l\x84sst sich nicht in die Teiledatei schreiben (Platte voll?)";
    case PceStatus::SlotTaken:
        return "Platz in " + std::string(pieceFile.empty() ? "der Teiledatei" : pieceFile) +
               " ist schon belegt: Bereich mit teilarea check pr\x81" "fen";
    }
    return "";
}

std::string reason(SortStatus status) {
    switch (status) {
    case SortStatus::Ok: return "";
    case SortStatus::CannotOpen: return "Steuerdatei piece.ctl l\x84sst sich nicht \x94" "ffnen";
    case SortStatus::NoMemory: return "zu wenig Arbeitsspeicher zum Sortieren";
    case SortStatus::Unreadable: return "Steuerdatei piece.ctl ist unvollst\x84ndig oder unlesbar";
    case SortStatus::NotWritten: return "sortierte Steuerdatei l\x84sst sich nicht schreiben; sie bleibt unsortiert";
    }
    return "";
}

std::string control_missing_reason() {
    return "Steuerdatei fehlt, Teiledateien sind da: mit teilarea repair wiederherstellen";
}

}  // namespace teilimp::writer
