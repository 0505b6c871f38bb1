// SPDX-License-Identifier: MIT
#include "settings/settings_store.h"

#include "settings/conversions.h"
#include "settings/file_io.h"

namespace zorvek {

LoadStage loadSettings(const std::filesystem::path& dir, SettingsControls& controls,
                       SettingsRecord& record) {
    const std::optional<std::string> bytes =
        readSmallFile(settingsPathIn(dir), kSettingsFileMaxBytes);
    if (!bytes) return LoadStage::NothingApplied;
    return applySettingsFile(*bytes, controls, record);
}

SaveResult saveSettings(const std::filesystem::path& dir, const SettingsControls& controls,
                        SettingsRecord& record) {
    record.HostName = controls.text[0];
    if (const std::optional<int16_t> count = toInt16(std::string_view(controls.text[1]))) {
        record.Interval = *count;
    }
    record.WindowStart = controls.text[2];
    record.WindowEnd = controls.text[3];
    record.LogToList = controls.check1;
    record.ShowErrorBox = controls.check2;

    SaveResult result;
    result.path = settingsPathIn(dir);
    const std::string bytes = formatSettingsFile(lineFromControls(controls));
    if (bytes.size() > kSettingsFileMaxBytes) {
        result.error = "設定が長すぎます（" + std::to_string(bytes.size()) +
                       " バイト。読み込める設定ファイルは " +
                       std::to_string(kSettingsFileMaxBytes) +
                       " バイトまでです）。ファイルはそのままです。";
        return result;
    }
    result.written = rewriteFile(result.path, bytes, &result.error);
    return result;
}

void removeInterruptedSaves(const std::filesystem::path& dir) {
    removeLeftoverTemporaryFiles(settingsPathIn(dir));
}

}  // namespace zorvek
