// SPDX-License-Identifier: MIT
#include "companion/program_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zorvek::companion {

std::optional<std::string> programFolder() {
    std::string bytes(256, '\0');
    for (;;) {
#ifdef _WIN32
        const DWORD got =
            GetModuleFileNameA(nullptr, bytes.data(), static_cast<DWORD>(bytes.size()));
        if (got == 0) return std::nullopt;
        const size_t n = got;
#else
        const ssize_t got = ::readlink("/proc/self/exe", bytes.data(), bytes.size());
        if (got < 0) return std::nullopt;
        const size_t n = static_cast<size_t>(got);
#endif
        // Neither call says whether it cut the name short, so the buffer grows
        // until the name fits with room to spare.
        if (n < bytes.size()) {
            bytes.resize(n);
            break;
        }
        bytes.resize(bytes.size() * 2);
    }
#ifdef _WIN32
    const size_t slash = bytes.find_last_of("\\/");
    if (slash == std::string::npos) return std::nullopt;
    return bytes.substr(0, slash);
#else
    // The kernel gives the absolute path with every link resolved. A replaced
    // executable reads "<path> (deleted)"; the suffix is on the file's name,
    // so its folder is still right.
    const size_t slash = bytes.rfind('/');
    if (bytes.empty() || bytes.front() != '/' || slash == std::string::npos) return std::nullopt;
    return slash == 0 ? std::string("/") : bytes.substr(0, slash);
#endif
}

}  // namespace zorvek::companion
