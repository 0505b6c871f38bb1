// SPDX-License-Identifier: MIT
// Code page 932 conversion: replacement of what the code page cannot hold or
// what is not UTF-8 (one '?' each, the rest kept), round trips, and refusal of
// bytes that are not code page 932.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "text/cp932.h"

namespace zorvek::cp932 {
namespace {

TEST(Cp932, FromUtf8ReplacesEachBadSequenceWithOneQuestionMark) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"127.0.0.1", "127.0.0.1"},
        // テスト and the full-width tilde of the Windows flavour (0x8160).
        {"テスト～", "\x83\x65\x83\x58\x83\x67\x81\x60"},
        // 表 ends in 0x5C, the byte of a backslash.
        {"表", "\x95\x5C"},
        // A snowman has no code in the code page.
        {"a☃b", "a?b"},
        // A sequence cut short: only its own bytes are replaced.
        {"\xE3\x41\x42", "?AB"},
        {"\xE3\x81\x41", "?A"},
        {"x\xE3\x81", "x?"},
        // Stray continuation bytes and bytes that never start UTF-8.
        {"\x80\x41", "?A"},
        {"\xFF\xC0\x41", "??A"},
    };
    for (const auto& [utf8, expected] : table) EXPECT_EQ(fromUtf8(utf8), expected) << utf8;
}

TEST(Cp932, RoundTripsAndInvalidBytes) {
    for (const std::string utf8 : {"", "ascii", "ﾃｽﾄ半角", "テスト～表示①", "Ａ－"})
        EXPECT_EQ(toUtf8(fromUtf8(utf8)), std::optional<std::string>(utf8)) << utf8;
    EXPECT_EQ(toUtf8("\x83\x65\x83\x58\x83\x67\x95\x5C"), std::optional<std::string>("テスト表"));
    // A lone lead byte at the end, a lead byte followed by a byte that cannot
    // trail, and a code with no character.
    for (const std::string bytes : {"a\x83", "\x83\x20", "\x85\x40"})
        EXPECT_EQ(toUtf8(bytes), std::nullopt) << bytes;
    EXPECT_EQ(converterProblem(), std::nullopt);
}

}  // namespace
}  // namespace zorvek::cp932
