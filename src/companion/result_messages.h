// SPDX-License-Identifier: MIT
// The table that turns a probe's result code into the text the log and the
// error box show.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zorvek::companion {

// Codes the program itself reports when the companion library is unusable.
constexpr int32_t kCodeLibraryMissing = -2;  // the library cannot be loaded
constexpr int32_t kCodeEntryMissing = -3;    // the library lacks Pinging
constexpr int32_t kCodeSuccess = 0;

// Opens every result line in the log.
inline constexpr char kResultSeparator[] = "--------------------";

class ResultMessages {
public:
    static constexpr int32_t kLowest = -5;
    static constexpr int32_t kHighest = 2;

    // Stores the eight messages at positions code + 5. Until then every code
    // reads as unknown.
    void fill();

    // The message for a code; a code outside -5..2 (which no table row covers)
    // gets a text of our own instead of reading past the table.
    const std::string& messageFor(int32_t code) const;

private:
    std::array<std::string, 8> rows_;
};

// "<message>(<code>)", the text of the error box.
std::string describeResult(const ResultMessages& messages, int32_t code);

// "--------------------<message>(<code>)", the result line of the log.
std::string resultLine(const ResultMessages& messages, int32_t code);

}  // namespace zorvek::companion
