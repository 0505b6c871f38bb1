// SPDX-License-Identifier: MIT
// Loading the settings file into the controls and the record at start-up, and
// the save command's part: the record from the controls and the file from the
// controls.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "settings/file_io.h"
#include "settings/settings_file.h"
#include "settings/settings_record.h"

namespace zorvek::settings {

// Reads the settings file `file` and applies it. A missing, unreadable or oversized
// file changes nothing; a damaged one stops where its first bad item is. The
// file on disk is never touched. Silent on purpose: a first run has no file.
LoadStage loadSettings(const std::filesystem::path& file, SettingsControls& controls,
                       SettingsRecord& record);

// Takes the record's fields from the controls (the count converted to a 16-bit
// integer; the caller validates it first) and rewrites the settings file
// `file` from the controls, unit included (see rewriteFile for how). Missing
// folders above the file are made first, private to the user (a user's
// configuration folder may not exist yet). Texts too long for a file that
// loads again are refused rather than written. A failure leaves the previous
// file whole and says at which step it failed; the record takes the new values
// either way.
std::optional<SaveFailure> saveSettings(const std::filesystem::path& file,
                                        const SettingsControls& controls, SettingsRecord& record);

// Removes what saves interrupted by a kill or a crash left behind next to the
// settings file `file` (see removeLeftoverTemporaryFiles). Called at start-up.
void removeInterruptedSaves(const std::filesystem::path& file);

}  // namespace zorvek::settings
