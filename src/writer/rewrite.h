// Rewriting one area file safely: the one way in which the writer changes
// a control or piece file that already holds data.
//
//   SafeRewrite rw(path, backupPath);
//   rw.begin()      puts back a backup that an earlier failure left, then
//                   makes a complete backup of the file;
//   rw.open_old()   opens the old content for reading (its backup, read
//                   directly: nothing is copied elsewhere first);
//   rw.read_old(b)  or reads the whole old content into memory and closes
//                   it again, so that the file is not held open while the
//                   new version is worked out;
//   rw.open_new()   creates the temporary file that receives the new
//                   version (the one place where a new version is created);
//   rw.commit()     puts the new version in place by one rename (the data
//                   flushed first; the directory is flushed by the caller,
//                   once for all files of a step).
//
// A file that is created new (no old content) skips begin() and open_old().
// The file itself is not touched before the commit. Whatever was begun and
// not committed is undone when the guard goes: the temporary file and the
// backup made by begin() are removed, so the area is as it was. After a
// commit the backup stays until the caller drops it (or keeps it, as the
// control-file update does until the piece file is written).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "util/bytes.h"

namespace teilimp::writer {

struct SafeRewrite {
    std::string path;
    std::string backup;
    std::string temp;
    platform::File in;   // the old content, after open_old()
    platform::File out;  // the new version, after open_new()
    // The file whose access (permission bits, group) a new file takes when
    // `path` does not exist yet; otherwise the new version takes the access
    // of the file it replaces.
    std::string accessModel;

    SafeRewrite(std::string filePath, std::string backupPath);
    ~SafeRewrite();
    SafeRewrite(const SafeRewrite&) = delete;
    SafeRewrite& operator=(const SafeRewrite&) = delete;

    // False when no complete backup could be made (the file is missing or
    // a stale backup could not be put back); nothing is then left behind.
    bool begin();
    // False when the old content cannot be opened.
    bool open_old();
    // False when the old content cannot be opened or read.
    bool read_old(util::Bytes& bytes);
    // False when the file may not be replaced (read-only) or the temporary
    // file cannot be created.
    bool open_new();
    // Flushes the new version and renames it over the file. False when it
    // is not in place: the file then holds its old content (put back from
    // the backup if the rename went through but could not be flushed) and
    // the backup made by begin() is gone.
    bool commit();
    // After a commit: removes the backup, the new version being flushed;
    // `syncDir` flushes the directory afterwards.
    void drop_backup(bool syncDir);

private:
    bool backedUp_ = false;
    bool committed_ = false;
};

}  // namespace teilimp::writer
