// SPDX-License-Identifier: MIT
// Reading and replacing the small files the program keeps next to itself (the
// settings file). POSIX only.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zorvek {

// The whole content of the regular file at `path`, or nothing when it is
// missing, cannot be opened or read, is not a regular file (a directory, a
// FIFO, a device) or holds more than `maxBytes` bytes. Never reads more than
// maxBytes + 1 bytes and never blocks on a FIFO. Never throws.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes);

// Replaces the file at `target` with `bytes` so that a reader sees either the
// old content or the new one, never a mix: the bytes go to a new temporary
// file ".<name>.XXXXXX" in the same directory, which is flushed to disk and
// then renamed over the target. The new file keeps the old file's permission
// bits; a new file gets 0644 less the process umask. On failure the old file
// is left as it was, the temporary file is removed, `*error` (when given)
// receives a readable reason and the result is false. Never throws.
//
// If `target` is a symbolic link, the link itself is replaced by a regular
// file. The owner of a replaced file becomes the writing user.
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::string* error);

// Where the settings file lives in `dir`: dir/Zorvek.ini.
std::filesystem::path settingsPathIn(const std::filesystem::path& dir);

}  // namespace zorvek
