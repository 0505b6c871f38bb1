// SPDX-License-Identifier: MIT
// A stand-in for the companion library that returns the code the host names:
// "code:N" returns N, anything else returns 0. It also remembers the bytes of
// the last host it was given, so tests can check what the program passed,
// with ZORVEK_FAKE_TRACE set prints each call, and with ZORVEK_FAKE_MARKER set
// creates that file as soon as it is loaded, so a test can tell whether it
// ever ran in a process.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
char lastHost[256];

__attribute__((constructor)) void markLoaded() {
    if (const char* marker = std::getenv("ZORVEK_FAKE_MARKER")) {
        if (std::FILE* f = std::fopen(marker, "w")) std::fclose(f);
    }
}
}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t Pinging(const char* host) {
    if (host == nullptr) return -1;
    std::strncpy(lastHost, host, sizeof lastHost - 1);
    // Lets a test that watches a whole process see each call on its output.
    if (std::getenv("ZORVEK_FAKE_TRACE") != nullptr) {
        std::printf("PING %s\n", host);
        std::fflush(stdout);
    }
    if (std::strncmp(host, "code:", 5) == 0)
        return static_cast<int32_t>(std::strtol(host + 5, nullptr, 10));
    return 0;
}

extern "C" __attribute__((visibility("default"))) const char* LastHost() { return lastHost; }
