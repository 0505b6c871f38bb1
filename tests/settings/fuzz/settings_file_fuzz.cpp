// SPDX-License-Identifier: MIT
// libFuzzer entry point for the settings file reader: any bytes go through
// parseSettingsFile and applySettingsFile, and the invariants shared with the
// random-input test must hold.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "settings_file_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The program never reads more than this from disk, so larger inputs only
    // slow the fuzzer down.
    if (size > zorvek::kSettingsFileMaxBytes) return -1;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto failure = zorvek::settings::fuzzing::checkSettingsFileInvariants(bytes)) {
        std::fprintf(stderr, "invariant broken: %s\n", failure->c_str());
        std::abort();
    }
    return 0;
}
