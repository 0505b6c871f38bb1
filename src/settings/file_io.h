// SPDX-License-Identifier: MIT
// Reading and rewriting the small files the program keeps next to itself (the
// settings file), and clearing away what an interrupted rewrite left behind.
// POSIX only.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/failure.h"

namespace zorvek::settings {

// The step at which saving the settings failed.
enum class SaveStep {
    NoFileName,        // path: the target as given
    RefusedLink,       // path: a link in a shared sticky folder that is not followed
    Examine,           // err: the file or a folder on its way cannot be examined
    NotRegular,        // path: the target is a folder, a FIFO, a device
    NotRegularOnOpen,  // path: what was opened turned out not to be a regular file
    OpenDenied,        // err: no permission to rewrite the existing file
    Open,              // err: the existing file cannot be opened for writing
    MakeTemporary,     // path: the folder; err
    SetMode,           // err: the new file's permission bits
    WriteNew,          // err: writing a new file (no old one existed)
    WriteBesideOld,    // err: writing the new copy; the old file is as it was
    Rename,            // err: the new copy cannot take the old one's place
    WriteRestored,     // err: rewriting in place failed; the old content is back
    WriteNotRestored,  // err: rewriting in place failed; the old content is not back
    CloseInPlace,      // err: the rewritten file's close reported a failure
    Unexpected,        // detail: an exception's text, or empty
    MakeFolder,        // path: a missing folder above the file; err
    TooLong,           // detail: the bytes the settings would take
};

using SaveFailure = base::Failure<SaveStep>;

// The whole content of the regular file at `path`, or nothing when it is
// missing, cannot be opened or read, is not a regular file (a directory, a
// FIFO, a device) or holds more than `maxBytes` bytes. Never reads more than
// maxBytes + 1 bytes and never blocks on a FIFO. Never throws.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes);

// Gives the file at `target` the content `bytes`, the way a careful editor
// saves:
//  - A symbolic link is followed; the link stays and the file it names gets
//    the new content. Links are followed as the kernel does with
//    fs.protected_symlinks, whatever the system's setting: a link in a sticky
//    folder that everybody may write to (such as /tmp) is followed only when
//    it belongs to the user or to the folder's owner; another one refuses the
//    save. The file's folder is then used through a descriptor, so nothing
//    can be swapped in between the check and the write.
//  - An existing file that the user may not write is left untouched (a
//    writable folder is no licence to replace it).
//  - Where it can, the bytes go to a new temporary file ".<name>.XXXXXX" in the
//    file's own folder, which is flushed to disk and renamed over the file, so
//    that a reader sees the old content or the new one, never a mix. The new
//    file keeps the old one's owner, group and permission bits, less setuid,
//    setgid and sticky; a file made anew gets 0644 less the process umask.
//  - Where that is not possible (the folder is read-only to the user, the old
//    owner or group cannot be kept, the file has other hard links), the file is
//    rewritten in place: the complete content from the start, cut to the new
//    length, flushed. If that write fails, the old content is written back.
// On failure the old file is left as it was, no temporary file remains and
// the result says at which step it failed. Never throws.
std::optional<SaveFailure> rewriteFile(const std::filesystem::path& target, std::string_view bytes);

// How old a temporary file of rewriteFile must be before it counts as left
// behind: a save takes far less, so a younger one may belong to a save still
// running in another copy of the program.
inline constexpr std::chrono::seconds kLeftoverAge{60};

// Removes the temporary files that interrupted rewrites of `target` left
// behind: in the folder of `target` and, when it is a link, in the folder of
// the file it names, the entries named ".<file name>.XXXXXX" (six letters or
// digits) that are regular files of this user, last changed at least
// kLeftoverAge ago. Nothing else is touched (not a link, not another user's
// file, not a younger file, not a folder reached only through a link that
// rewriteFile would refuse to follow). Never throws.
void removeLeftoverTemporaryFiles(const std::filesystem::path& target);

// Where the settings file lives in `dir`: dir/Zorvek.ini.
std::filesystem::path settingsPathIn(const std::filesystem::path& dir);

}  // namespace zorvek::settings
