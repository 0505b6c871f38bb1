// SPDX-License-Identifier: MIT
// A save's outcome as its user reads it: written, or the sentence that says
// why not, so that the tests check the words the box would show.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "settings/file_io.h"
#include "settings/settings_store.h"
#include "ui/user_texts.h"

namespace zorvek::settings {

struct SaveOutcome {
    bool written = false;
    std::filesystem::path path;  // the file saved to
    std::string error;           // the reason as the user reads it; empty when written
};

inline SaveOutcome describeSave(const std::filesystem::path& file,
                                const std::optional<SaveFailure>& failure) {
    if (!failure) return {true, file, {}};
    return {false, file, ui::saveFailureText(*failure)};
}

inline SaveOutcome saveDescribed(const std::filesystem::path& file,
                                 const SettingsControls& controls, SettingsRecord& record) {
    return describeSave(file, saveSettings(file, controls, record));
}

// rewriteFile, with the reason in words in `*error` (when given) on failure.
inline bool rewriteDescribed(const std::filesystem::path& target, std::string_view bytes,
                             std::string* error) {
    const SaveOutcome outcome = describeSave(target, rewriteFile(target, bytes));
    if (error != nullptr) *error = outcome.error;
    return outcome.written;
}

}  // namespace zorvek::settings
