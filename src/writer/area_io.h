// File steps shared by the writer's routines: complete backups, atomic
// replacement of area files, buffered record reading and writing.
//
// The rules that keep an area sound when a run fails or dies midway:
//  - a backup (piece.ct$, piece<code>.pc$) is always a complete copy of the
//    file's state before the update: a second name (hard link) of the file,
//    whose content is never changed in place, or where links are refused a
//    copy written under a temporary name, flushed and only then renamed;
//  - a new version of an area file is written under a temporary name in the
//    same directory, flushed, and renamed over the original, so the
//    original is never truncated or half written;
//  - a backup that is found lying around is therefore always safe to put
//    back: it is restored before the file is used again.
//
// Flushes to disk: the data of every new version before its rename (else
// a power loss could leave the new name on an empty file); no flush for a
// linked backup (it names content that is on disk already). The directory
// is flushed once at the end of each stored piece (epn_ctl_end), of the
// superseded marks and of the sort: journaling file systems keep the
// renames, links and deletions of one directory in order, so the state on
// disk after a power loss is always one the recovery can put right, and
// the flush makes a piece durable before the run reports it stored.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "util/bytes.h"
#include "writer/records.h"

namespace teilimp::writer::io {

// The temporary name under which a new version of `path` is written.
std::string temp_name(const std::string& path);
// The directory part of an area path (up to its last separator).
std::string dir_of(const std::string& path);
// True when the file exists and carries the read-only attribute.
bool read_only(const std::string& path);

// Deletes the file if it exists; a failed delete is tried once more.
// True when the file is gone.
bool remove_file(const std::string& path);

// Makes `bak` a complete, flushed copy of `orig`. False when it could not
// (then `bak` is either absent or still the complete copy it was).
// `tryLink` false: a link has been refused already, the file is copied.
bool make_backup(const std::string& orig, const std::string& bak, bool tryLink = true);
// Puts the backup's content over `orig` (atomically) and then deletes the
// backup. False, with the backup kept, when `orig` could not be restored.
bool restore_from(const std::string& orig, const std::string& bak);
// If a backup of `orig` is lying around, restores `orig` from it. False
// (nothing changed) when it could not, or the backup is not sound.
bool settle_backup(const std::string& orig, const std::string& bak);
// Deletes the backup of an `orig` that is complete and flushed. If the
// backup cannot be deleted it is refreshed from `orig`, so that it never
// puts back an older state, and deleted again. `syncDir`: flush the
// directory afterwards.
void drop_backup(const std::string& orig, const std::string& bak, bool syncDir = true);

// Creates the temporary file for a new version of an area file (a stale
// one is removed first; a file that exists is never opened). It takes the
// access (permission bits, group) of `model`, the file it is to replace,
// or when that does not exist of `otherModel` ("": none).
platform::File create_temp(const std::string& tmp, const std::string& model = {},
                           const std::string& otherModel = {});
// Closes and deletes an unfinished temporary file.
void abandon_temp(platform::File& f, const std::string& tmp);

enum class Commit { Done, Failed, Unsynced };
// Flushes and closes `f` (written as `tmp`) and renames it over `orig`;
// with `syncDir` the directory is flushed too. Failed: `orig` untouched,
// `tmp` removed. Unsynced: `orig` replaced but the directory could not be
// flushed.
Commit commit_temp(platform::File& f, const std::string& tmp, const std::string& orig, bool syncDir = true);

// Where an area's files lie: `prefix` is the path of piece.ctl without the
// file name: the directory `dir`, followed by a `stem` when an area in the
// directory form lacks its closing backslash (C:\TMP gives C:\TMPpiece.ctl).
// A directory search on prefix + pattern reports names with the stem.
struct AreaDir {
    std::string prefix;
    std::string dir;
    std::string stem;
};
AreaDir area_dir(const AreaField& area);
// The code of a piece file or backup name "<stem>piece<code><ext>" (ext
// such as ".pce", ".pc$" or ".pce.tmp"), compared without regard to case;
// false when the name is not of that form.
bool piece_code_of(const std::string& name, const std::string& stem, const std::string& ext, FileCode& code);

// Reads the whole of an open file, from where it stands, in large blocks.
// False on a read error.
bool read_all(platform::File& f, util::Bytes& out);

// Reads a file sequentially through a large buffer (left as it comes:
// only what a read has put there is ever used).
struct ChunkReader {
    platform::File& file;
    std::unique_ptr<uint8_t[]> buf;
    size_t size;
    size_t pos = 0;
    size_t end = 0;
    explicit ChunkReader(platform::File& f, size_t size = 64 * 1024)
        : file(f), buf(new uint8_t[size]), size(size) {}
    // Exactly n bytes, or false (read error or end of file first).
    bool read(uint8_t* out, size_t n);
    // Exactly n bytes added to `out`, which grows only by what was read;
    // false as read.
    bool append(util::Bytes& out, size_t n);

private:
    bool fill();
};

// Collects records and writes them in large blocks.
struct BlockWriter {
    platform::File& file;
    util::Bytes buf;
    size_t limit;
    explicit BlockWriter(platform::File& f, size_t size = 64 * 1024) : file(f), limit(size) {
        buf.reserve(size);
    }
    bool put(const uint8_t* data, size_t n);
    bool flush();
};

enum class CopyResult { Ok, ReadFailed, WriteFailed };
// Copies `total` bytes from the reader to `out`.
CopyResult copy_bytes(ChunkReader& in, platform::File& out, int64_t total);

}  // namespace teilimp::writer::io
