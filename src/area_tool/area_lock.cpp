// The area's lock for the commands that change an area: taken, kept fresh
// and released as an import does, with the importer's texts.
#include <memory>

#include "area_tool/tool.h"
#include "platform/platform.h"

namespace teilimp::area_tool {

std::unique_ptr<writer::LockKeeper> lock_for_change(const writer::AreaField& area) {
    writer::HeldLock held;
    switch (writer::epn_lock(area, 1, held)) {
    case writer::kLockTaken:
        return std::make_unique<writer::LockKeeper>(std::move(held));
    case writer::kLockAreaMissing:
        platform::console_name_line("Achtung: Zielbereich nicht gefunden: ", writer::lock_directory(area));
        break;
    case writer::kLockAreaUnwritable:
        platform::console_name_line("Achtung: Zielbereich nicht beschreibbar: ", writer::lock_directory(area));
        break;
    case writer::kLockInterrupted:
        break;  // the interrupt has said its own line
    default:
        platform::console_line("Zielbereich ist blockiert.");
        break;
    }
    return nullptr;
}

bool lock_still_held(writer::LockKeeper& lock) {
    if (lock.still_ours()) return true;
    platform::console_line("Achtung: Zugriff auf den Zielbereich verloren.");
    return false;
}

}  // namespace teilimp::area_tool
