// SPDX-License-Identifier: MIT
// Finds and calls the companion library's probe, Pinging(host), which sends the
// ICMP echo and returns a result code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zorvek {

class CompanionLibrary {
public:
    using PingingFn = int32_t (*)(const char* host);

    // `programDir` is searched first, then the system's library search path.
    // `baseName` is the library's name without the platform's prefix and
    // suffix ("Zorvek" → libZorvek.so, Zorvek.dll).
    explicit CompanionLibrary(std::filesystem::path programDir, std::string baseName = "Zorvek");
    ~CompanionLibrary();
    CompanionLibrary(const CompanionLibrary&) = delete;
    CompanionLibrary& operator=(const CompanionLibrary&) = delete;

    // Calls Pinging with `host` (code page 932, NUL-terminated). The library is
    // loaded on the first call; when it cannot be loaded the call reports -2,
    // when it has no Pinging -3, and the next call tries again, so installing
    // the library later needs no restart.
    int32_t ping(const std::string& host);

    // The platform's file name for a library base name.
    static std::string fileNameFor(const std::string& baseName);

private:
    bool load(int32_t& failureCode);

    std::filesystem::path programDir_;
    std::string baseName_;
    void* handle_ = nullptr;
    PingingFn pinging_ = nullptr;
};

}  // namespace zorvek
