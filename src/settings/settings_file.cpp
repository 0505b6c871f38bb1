// SPDX-License-Identifier: MIT
#include "settings/settings_file.h"

#include <cmath>
#include <utility>

#include "settings/conversions.h"
#include "text/cp932.h"

namespace zorvek::settings {
namespace {

bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

// An item as found in the raw bytes, before decoding.
struct RawItem {
    std::string_view bytes;
    bool quoted = false;
};

// A check box value: the item as a 16-bit integer, and only 0 or 1.
std::optional<int16_t> checkValue(const IniItem& item) {
    const std::optional<int16_t> value = itemToInt16(item);
    if (!value || (*value != 0 && *value != 1)) return std::nullopt;
    return value;
}

bool readsAsOne(const IniItem& item) {
    if (item.kind == IniItem::Kind::Number) return item.number == 1;
    const std::optional<double> value = parseNumber(item.text);
    return value && *value == 1;
}

}  // namespace

std::optional<SettingsItems> parseSettingsFile(std::string_view bytes) {
    // The separators looked for (quote, comma, blanks, line breaks) are all
    // below 0x40, so none of them can be the second byte of a double-byte
    // character: scanning the undecoded bytes finds the same boundaries as
    // scanning the decoded text would.
    std::array<RawItem, kSettingsItemCount> raw;
    const size_t n = bytes.size();
    size_t pos = 0;
    for (size_t count = 0; count < kSettingsItemCount; ++count) {
        while (pos < n && (isBlank(bytes[pos]) || isLineBreak(bytes[pos]))) ++pos;
        if (pos == n) return std::nullopt;

        if (bytes[pos] == '"') {
            const size_t start = ++pos;
            while (pos < n && bytes[pos] != '"' && !isLineBreak(bytes[pos])) ++pos;
            raw[count] = {bytes.substr(start, pos - start), true};
            if (pos < n && bytes[pos] == '"') {
                ++pos;
                // Whatever follows the closing quote on this item is dropped.
                while (pos < n && bytes[pos] != ',' && !isLineBreak(bytes[pos])) ++pos;
            }
        } else {
            const size_t start = pos;
            while (pos < n && bytes[pos] != ',' && !isLineBreak(bytes[pos])) ++pos;
            raw[count] = {trimBlanks(bytes.substr(start, pos - start)), false};
        }

        if (count + 1 < kSettingsItemCount && pos < n && bytes[pos] == ',') ++pos;
    }

    // Everything up to the end of the seventh item has been read and must be
    // valid code page 932; what follows is never looked at.
    if (!cp932::toUtf8(bytes.substr(0, pos))) return std::nullopt;

    SettingsItems items;
    for (size_t i = 0; i < kSettingsItemCount; ++i) {
        std::optional<std::string> text = cp932::toUtf8(raw[i].bytes);
        if (!text) return std::nullopt;
        IniItem& item = items[i];
        item.text = std::move(*text);
        if (!raw[i].quoted) {
            if (const std::optional<double> value = parseNumber(item.text)) {
                item.kind = IniItem::Kind::Number;
                item.number = *value;
                if (std::isfinite(*value)) item.text = formatNumber(*value);
            }
        }
    }

    // Saving writes the four texts back in quotes, numbers in their decimal
    // form and the line with CR LF, so the file may grow on its way back.
    // Whatever a load puts into the fields must save as a file that loads
    // again; the three other items are written as one digit each whatever
    // they were, so the size is known here exactly.
    const SettingsFileLine back{items[0].text, items[1].text, items[2].text, items[3].text};
    if (formatSettingsFile(back).size() > kSettingsFileMaxBytes) return std::nullopt;
    return items;
}

std::optional<int16_t> itemToInt16(const IniItem& item) {
    if (item.kind == IniItem::Kind::Number) return toInt16(item.number);
    return toInt16(std::string_view(item.text));
}

std::string formatSettingsFile(const SettingsFileLine& line) {
    std::string out;
    auto quoted = [&out](const std::string& text) {
        out += '"';
        out += cp932::fromUtf8(text);
        out += '"';
    };
    quoted(line.host);
    out += ',';
    quoted(line.count);
    out += ',';
    quoted(line.start);
    out += ',';
    quoted(line.end);
    out += ',';
    out += std::to_string(line.check1);
    out += ',';
    out += std::to_string(line.check2);
    out += ',';
    out += line.seconds ? '1' : '0';
    out += "\r\n";
    return out;
}

LoadStage applySettingsFile(std::string_view bytes, SettingsControls& controls,
                            SettingsRecord& record) {
    const std::optional<SettingsItems> items = parseSettingsFile(bytes);
    if (!items) return LoadStage::NothingApplied;

    for (size_t i = 0; i < controls.text.size(); ++i) controls.text[i] = (*items)[i].text;

    const std::optional<int16_t> check1 = checkValue((*items)[4]);
    if (!check1) return LoadStage::TextsFilled;
    controls.check1 = *check1;
    const std::optional<int16_t> check2 = checkValue((*items)[5]);
    if (!check2) return LoadStage::TextsFilled;
    controls.check2 = *check2;

    record.HostName = controls.text[0];
    const std::optional<int16_t> interval = toInt16(std::string_view(controls.text[1]));
    if (!interval) return LoadStage::HostNameOnly;
    record.Interval = *interval;
    record.WindowStart = controls.text[2];
    record.WindowEnd = controls.text[3];
    record.LogToList = *check1;
    record.ShowErrorBox = *check2;

    controls.seconds = readsAsOne((*items)[6]);
    return LoadStage::Complete;
}

SettingsFileLine lineFromControls(const SettingsControls& controls) {
    SettingsFileLine line;
    line.host = controls.text[0];
    line.count = controls.text[1];
    line.start = controls.text[2];
    line.end = controls.text[3];
    line.check1 = controls.check1;
    line.check2 = controls.check2;
    line.seconds = controls.seconds;
    return line;
}

std::string_view toString(LoadStage stage) {
    switch (stage) {
        case LoadStage::NothingApplied: return "nothing applied";
        case LoadStage::TextsFilled: return "texts filled";
        case LoadStage::HostNameOnly: return "host name only";
        case LoadStage::Complete: return "complete";
    }
    return "unknown";
}

}  // namespace zorvek::settings
