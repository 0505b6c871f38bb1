// SPDX-License-Identifier: MIT
// The settings file, Zorvek.ini, next to the program: its bytes, how they are
// read into items, how the items are applied to the window's controls and the
// settings record, and how the controls are written back.
//
// The file holds one line of seven comma-separated items in code page 932,
// ended by CR LF:
//   "host","count","start","end",check1,check2,unit
// Items 1-4 are the four edit fields' texts in double quotes (nothing escaped,
// so a text containing a double quote does not read back whole); items 5 and 6
// are the two check boxes' values (0 or 1) and item 7 is 1 when the interval is
// counted in seconds, 0 for minutes. Example:
//   "example.com","5","23:00","07:59",1,0,0<CR><LF>
//
// Reading rules (those of the classic comma-separated record reader):
//  - Before each item, spaces, tabs and line breaks (CR LF, LF, CR) are
//    skipped, so blank lines make no items and the seven items may be spread
//    over several lines.
//  - An item starting with a double quote is text: it runs to the next double
//    quote, so commas inside belong to it. It also ends at a line break or the
//    end of the data, so a missing closing quote cannot swallow the following
//    lines; line breaks are therefore never part of a text. Anything after the
//    closing quote up to the next comma or line break is ignored.
//  - Any other item runs to the next comma, line break or the end of the data
//    and is trimmed of spaces and tabs. It is a number when it reads as one
//    (see conversions.h), else text. An empty item (",,") is empty text.
//  - A comma ends an item; a line break ends it as well.
//  - Only the first seven items are read; the rest of the data is not looked
//    at. Fewer than seven items means the file is not loaded at all.
//  - The part read must be valid code page 932, else nothing is loaded.
//  - A file whose four texts would be written back (in quotes, numbers in their
//    decimal form, CR LF at the end) as more than kSettingsFileMaxBytes is not
//    loaded, so every file that loads can be saved and loaded again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/settings_record.h"

namespace zorvek::settings {

inline constexpr std::string_view kSettingsFileName = "Zorvek.ini";

// The largest settings file that is read, and the largest that is written. A
// settings file is 19 bytes plus its four texts. The longest texts the fields
// take from typing (a host of 32,767 characters, each at most two bytes in code
// page 932, a count of 3 and two times of 5) make 65,566 bytes, well within
// this; anything larger is not a settings file and is not loaded.
inline constexpr std::size_t kSettingsFileMaxBytes = 128 * 1024;

inline constexpr std::size_t kSettingsItemCount = 7;

struct IniItem {
    enum class Kind { Text, Number };

    Kind kind = Kind::Text;
    // UTF-8. For text, the characters between the quotes or the trimmed
    // unquoted characters. For a number, the text an edit field shows for it:
    // the shortest decimal form ("5" for "005", "0.5" for ".50"), or the
    // trimmed characters as written when the value is beyond a double.
    std::string text;
    double number = 0;  // the value, for Kind::Number

    bool operator==(const IniItem&) const = default;
};

using SettingsItems = std::array<IniItem, kSettingsItemCount>;

// The first seven items of the file, or nothing when there are fewer than
// seven, the part read is not valid code page 932 or the texts would be
// written back as more than kSettingsFileMaxBytes. Linear in the bytes
// scanned; stops right after the seventh item.
std::optional<SettingsItems> parseSettingsFile(std::string_view bytes);

// CInt of an item: a number's value, or a text's reading as a number, rounded
// half to even into 16 bits.
std::optional<int16_t> itemToInt16(const IniItem& item);

// What the writer puts in the file (UTF-8 texts).
struct SettingsFileLine {
    std::string host, count, start, end;
    int check1 = 0, check2 = 0;
    bool seconds = false;

    bool operator==(const SettingsFileLine&) const = default;
};

// The file's bytes for `line`: texts encoded in code page 932 (a character the
// code page lacks becomes '?'), numbers in decimal, CR LF at the end.
std::string formatSettingsFile(const SettingsFileLine& line);

// The window's controls as plain values: the four edit fields' texts, the two
// check boxes' values and whether the "seconds" option button is selected.
struct SettingsControls {
    std::array<std::string, 4> text;  // host, interval count, window start, window end
    int16_t check1 = 0;               // log to list
    int16_t check2 = 0;               // show error box
    bool seconds = false;             // false: minutes

    bool operator==(const SettingsControls&) const = default;
};

// How far applying a file got. Each stage includes everything of the stages
// before it.
enum class LoadStage {
    NothingApplied,  // not seven readable items: controls and record untouched
    TextsFilled,     // the four texts are set; a check box value was not 0 or 1
                     // (if only item 6 was bad, check1 has been set too);
                     // record untouched
    HostNameOnly,    // texts and check boxes set, record.HostName set; the
                     // interval text is not a 16-bit integer, so the rest of
                     // the record and the unit are untouched
    Complete,        // everything set
};

// Loads the file's bytes into the controls and the record, in this order,
// stopping at the first failure and leaving everything not yet reached as it
// was:
//  1. read seven items (else NothingApplied);
//  2. texts 0-3 <- items 1-4 (a number item gives its decimal text);
//  3. check1 <- item 5, check2 <- item 6, each as a 16-bit integer; a check box
//     holds only 0 or 1, so any other value is a failure (TextsFilled);
//  4. record.HostName <- text 0; record.Interval <- text 1 as a 16-bit integer
//     (failure: HostNameOnly); WindowStart <- text 2; WindowEnd <- text 3;
//  5. record.LogToList <- item 5, record.ShowErrorBox <- item 6;
//  6. seconds <- item 7 reads as a number equal to 1 (anything else: minutes).
// Neither the interval's range nor the times are checked here; the texts go in
// as written.
LoadStage applySettingsFile(std::string_view bytes, SettingsControls& controls,
                            SettingsRecord& record);

// The line the writer saves for the current state of the controls.
SettingsFileLine lineFromControls(const SettingsControls& controls);

// A short name for a stage, for logs and test messages.
std::string_view toString(LoadStage stage);

}  // namespace zorvek::settings
