// Storing one piece: the control entry, the image, and the end of the
// update, with one time stamp for both files.
#include "writer/stamped.h"
#include "writer/writer.h"

namespace teilimp::writer {

StoreResult epn_store_piece(const AreaField& area, const PieceName& name, std::span<const uint8_t> image,
                            PieceFileScan* scan) {
    StoreResult r;
    const int32_t stamp = time_stamp_now();
    const auto length = static_cast<int32_t>(image.size());
    r.ctl = ctl_put_stamped(name, length, stamp, r.code, r.slot, area, &r.replaced);
    if (r.ctl != 0) return r;
    r.pce = pce_put_stamped(r.code, r.slot, name, image, stamp, area);
    epn_ctl_end(area, r.pce != 0 ? 1 : 0);
    // Slot 1 creates the piece file (or finds one left behind).
    if (scan != nullptr && r.slot == 1) note_piece_file(area, r.code, *scan);
    return r;
}

}  // namespace teilimp::writer
