// SPDX-License-Identifier: MIT
#include "settings/settings_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "settings/conversions.h"
#include "settings/file_io.h"

namespace zorvek::settings {
namespace {

// Makes the folders above `file` that are missing, from the top down, each
// readable by the user alone (mode 0700), as the base directory rules ask of
// the configuration folders a program makes.
std::optional<SaveFailure> makeFoldersFor(const std::filesystem::path& file) {
    std::vector<std::filesystem::path> missing;
    struct stat st {};
    for (std::filesystem::path folder = file.parent_path();
         !folder.empty() && folder != folder.parent_path() && ::lstat(folder.c_str(), &st) != 0;
         folder = folder.parent_path()) {
        missing.push_back(folder);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST)
            return SaveFailure{SaveStep::MakeFolder, errno, it->string(), {}};
    }
    return std::nullopt;
}

}  // namespace

LoadStage loadSettings(const std::filesystem::path& file, SettingsControls& controls,
                       SettingsRecord& record) {
    const std::optional<std::string> bytes = readSmallFile(file, kSettingsFileMaxBytes);
    if (!bytes) return LoadStage::NothingApplied;
    return applySettingsFile(*bytes, controls, record);
}

std::optional<SaveFailure> saveSettings(const std::filesystem::path& file,
                                        const SettingsControls& controls, SettingsRecord& record) {
    record.HostName = controls.text[0];
    if (const std::optional<int16_t> count = toInt16(std::string_view(controls.text[1]))) {
        record.Interval = *count;
    }
    record.WindowStart = controls.text[2];
    record.WindowEnd = controls.text[3];
    record.LogToList = controls.check1;
    record.ShowErrorBox = controls.check2;

    const std::string bytes = formatSettingsFile(lineFromControls(controls));
    if (bytes.size() > kSettingsFileMaxBytes)
        return SaveFailure{SaveStep::TooLong, 0, file.string(), std::to_string(bytes.size())};
    if (std::optional<SaveFailure> failure = makeFoldersFor(file)) return failure;
    return rewriteFile(file, bytes);
}

void removeInterruptedSaves(const std::filesystem::path& file) {
    removeLeftoverTemporaryFiles(file);
}

}  // namespace zorvek::settings
