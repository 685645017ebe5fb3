// Names of the storage area's files, built from the area argument, and the
// three-letter piece-file codes.
#pragma once

#include <cstdint>
#include <string>

#include "writer/records.h"

namespace teilimp::writer {

enum class AreaFile { Control, ControlBackup, Piece, PieceBackup, Lock };

// The path of an area file (drive form "F:TEST" or directory form "C:\TMP\"),
// blanks and NULs removed. `code` is used for Piece and PieceBackup only.
std::string area_path(const AreaField& area, AreaFile kind, const FileCode& code = {'a', 'a', 'a'});

// Advances the code by one step: aaa, aab, ... zzz, then aaa again.
void inc_ccc(FileCode& code);
// 1 if every character is between 'a' and 'z', else 0.
int32_t ccc_valid(const FileCode& code);

}  // namespace teilimp::writer
