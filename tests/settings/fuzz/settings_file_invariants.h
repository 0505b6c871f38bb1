// SPDX-License-Identifier: MIT
// Properties that must hold for any bytes given to the settings file reader.
// Shared by the libFuzzer target and the bounded random-input test.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "settings/conversions.h"
#include "settings/settings_file.h"

namespace zorvek::settings::fuzzing {

// Checks the reader's invariants on `bytes`; returns a description of the first
// one broken, or nothing when all hold.
//  - parse and apply agree: apply changes nothing exactly when parse fails;
//  - the texts applied are the items' texts, never contain a line break, and
//    the values set are within what the controls can hold;
//  - the stage reached matches the conversions of the items;
//  - writing the applied controls and loading that again reproduces the same
//    controls, and the record loaded is at least as complete (and the same
//    when the first load was complete), provided no text holds a double quote
//    (the file format cannot carry one).
inline std::optional<std::string> checkSettingsFileInvariants(std::string_view bytes) {
    const std::optional<SettingsItems> items = parseSettingsFile(bytes);

    // A recognisable starting state, so that anything apply touches shows.
    SettingsControls controls;
    controls.text = {"\x01host", "\x01count", "\x01start", "\x01end"};
    controls.check1 = 7;
    controls.check2 = 8;
    controls.seconds = true;
    SettingsRecord record{"\x01rec", 4242, "\x01s", "\x01e", 9, 10};
    const SettingsControls controlsBefore = controls;
    const SettingsRecord recordBefore = record;

    const LoadStage stage = applySettingsFile(bytes, controls, record);
    if (!items) {
        if (stage != LoadStage::NothingApplied) return "parse failed but apply did something";
        if (controls != controlsBefore || record != recordBefore) {
            return "apply changed state although nothing loaded";
        }
        return std::nullopt;
    }
    if (stage == LoadStage::NothingApplied) return "parse succeeded but apply loaded nothing";

    bool hasQuote = false;
    for (size_t i = 0; i < 4; ++i) {
        if (controls.text[i] != (*items)[i].text) return "text field differs from its item";
        if (controls.text[i].find_first_of("\r\n") != std::string::npos) {
            return "a text holds a line break";
        }
        hasQuote = hasQuote || controls.text[i].find('"') != std::string::npos;
    }

    auto isCheck = [](const std::optional<int16_t>& v) { return v && (*v == 0 || *v == 1); };
    const bool checksOk = isCheck(itemToInt16((*items)[4])) && isCheck(itemToInt16((*items)[5]));
    const bool intervalOk = toInt16(std::string_view(controls.text[1])).has_value();
    const LoadStage expected = !checksOk     ? LoadStage::TextsFilled
                               : !intervalOk ? LoadStage::HostNameOnly
                                             : LoadStage::Complete;
    if (stage != expected)
        return "stage " + std::string(toString(stage)) + ", expected " +
               std::string(toString(expected));
    if (stage == LoadStage::TextsFilled && record != recordBefore) {
        return "record changed although the check boxes failed";
    }
    if (stage >= LoadStage::HostNameOnly &&
        (controls.check1 < 0 || controls.check1 > 1 || controls.check2 < 0 || controls.check2 > 1 ||
         record.HostName != controls.text[0])) {
        return "check boxes or host name wrong after they were applied";
    }
    if (stage == LoadStage::Complete &&
        (record.LogToList != controls.check1 || record.ShowErrorBox != controls.check2 ||
         record.WindowStart != controls.text[2] || record.WindowEnd != controls.text[3])) {
        return "record differs from the controls after a complete load";
    }

    if (hasQuote) return std::nullopt;

    const std::string written = formatSettingsFile(lineFromControls(controls));
    SettingsControls again = controlsBefore;
    SettingsRecord recordAgain = recordBefore;
    const LoadStage stageAgain = applySettingsFile(written, again, recordAgain);
    if (stageAgain < stage) return "reloading the written file got less far";
    if (again != controls) return "reloading the written file gave different controls";
    if (stage == LoadStage::Complete && recordAgain != record) {
        return "reloading the written file gave a different record";
    }
    return std::nullopt;
}

}  // namespace zorvek::settings::fuzzing
