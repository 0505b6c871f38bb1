// SPDX-License-Identifier: MIT
#include "companion/program_folder.h"

#include <unistd.h>

namespace zorvek::companion {

std::optional<std::string> programFolder() {
    std::string bytes(256, '\0');
    for (;;) {
        const ssize_t got = ::readlink("/proc/self/exe", bytes.data(), bytes.size());
        if (got < 0) return std::nullopt;
        const size_t n = static_cast<size_t>(got);
        // readlink does not say whether it cut the name short, so the buffer
        // grows until the name fits with room to spare.
        if (n < bytes.size()) {
            bytes.resize(n);
            break;
        }
        bytes.resize(bytes.size() * 2);
    }
    // The kernel gives the absolute path with every link resolved. A replaced
    // executable reads "<path> (deleted)"; the suffix is on the file's name,
    // so its folder is still right.
    const size_t slash = bytes.rfind('/');
    if (bytes.empty() || bytes.front() != '/' || slash == std::string::npos) return std::nullopt;
    return slash == 0 ? std::string("/") : bytes.substr(0, slash);
}

}  // namespace zorvek::companion
