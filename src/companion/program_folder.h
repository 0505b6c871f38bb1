// SPDX-License-Identifier: MIT
// The folder of the running executable, where the companion library lives,
// and Zorvek.ini too wherever the user can keep it there. The path is taken
// as the file system's bytes, whatever they are: a folder unpacked from an
// archive made on a Japanese Windows system may be named in code page 932,
// which is not UTF-8, and must still be found.
#pragma once

#include <optional>
#include <string>

namespace zorvek::companion {

// The executable's folder as the file system's bytes, from the kernel's
// record of the running file (/proc/self/exe), never from the working
// directory or argv[0]. Empty when the system cannot tell. Plain bytes rather than a
// std::filesystem::path keep zorvek-probe small and quick to start.
std::optional<std::string> programFolder();

}  // namespace zorvek::companion
