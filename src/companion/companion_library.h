// SPDX-License-Identifier: MIT
// Finds and calls the companion library's probe, Pinging(host), which sends the
// ICMP echo and returns a result code. The program and zorvek-probe both load
// the library through this class, so both find the same copy by the same
// rules and neither runs a copy that a user could have replaced while it holds
// elevated privileges.
#pragma once

#include <cstdint>
#include <string>

namespace zorvek::companion {

class CompanionLibrary {
public:
    using PingingFn = int32_t (*)(const char* host);

    // The copy in `programDir` (the folder's path as the file system's bytes)
    // is used when there is one; only when there is none is the system's
    // library search path tried. `baseName` is the library's name without
    // its prefix and suffix ("Zorvek" → libZorvek.so).
    //
    // A process started with elevated privileges (a setuid or setgid program,
    // or one given capabilities such as cap_net_raw) loads only a copy that
    // the real user can change neither directly nor through any folder on its
    // path, and never one from the search path.
    explicit CompanionLibrary(std::string programDir, std::string baseName = "Zorvek");
    ~CompanionLibrary();
    CompanionLibrary(const CompanionLibrary&) = delete;
    CompanionLibrary& operator=(const CompanionLibrary&) = delete;

    // Calls Pinging with `host` (code page 932, NUL-terminated). The library is
    // loaded on the first call; when it cannot be loaded the call reports -2,
    // when it has no Pinging -3, and the next call tries again, so installing
    // the library later needs no restart. Why it could not be loaded is
    // written to standard error, once for each new reason.
    int32_t ping(const std::string& host);

    // The file name for a library base name: lib<baseName>.so.
    static std::string fileNameFor(const std::string& baseName);

    // True when this process runs with privileges its real user does not
    // have (the kernel's AT_SECURE flag).
    static bool runsElevated();

private:
    bool load(int32_t& failureCode);
    void* open();
    void report(const std::string& reason);

    std::string programDir_;
    std::string baseName_;
    bool elevated_;
    void* handle_ = nullptr;
    PingingFn pinging_ = nullptr;
    std::string lastReport_;
};

}  // namespace zorvek::companion
