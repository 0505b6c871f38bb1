// SPDX-License-Identifier: MIT
#include "tray/tray_icon_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorvek::tray {
namespace {

std::vector<uint8_t> tipBytes(const TrayIconRecord& r) { return {r.tip().begin(), r.tip().end()}; }

// 65 bytes: the given text bytes, then zeros.
std::vector<uint8_t> zeroPadded(const std::string& text) {
    std::vector<uint8_t> v(TrayIconRecord::kTipSize, 0);
    for (size_t i = 0; i < text.size(); ++i) v.at(i) = static_cast<uint8_t>(text[i]);
    return v;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(TrayIconRecord, StartsAllZero) {
    const TrayIconRecord r;
    EXPECT_EQ(r.bytes().size(), 89u);
    for (size_t i = 0; i < r.bytes().size(); ++i) EXPECT_EQ(r.bytes()[i], 0) << "byte " << i;
}

TEST(TrayIconRecord, FieldsAreLittleEndianAtTheirOffsets) {
    TrayIconRecord r;
    r.setCbSize(0x04030201);
    r.setHWnd(0x08070605);
    r.setUID(0x0C0B0A09);
    r.setUFlags(0x100F0E0D);
    r.setUCallbackMessage(0x14131211);
    r.setHIcon(0x18171615);
    // Each field's bytes in memory order; together they count 1..24.
    for (size_t i = 0; i < 24; ++i) EXPECT_EQ(r.bytes()[i], i + 1) << "byte " << i;
    for (size_t i = 24; i < 89; ++i) EXPECT_EQ(r.bytes()[i], 0) << "byte " << i;

    EXPECT_EQ(r.cbSize(), 0x04030201u);
    EXPECT_EQ(r.hWnd(), 0x08070605u);
    EXPECT_EQ(r.uID(), 0x0C0B0A09u);
    EXPECT_EQ(r.uFlags(), 0x100F0E0Du);
    EXPECT_EQ(r.uCallbackMessage(), 0x14131211u);
    EXPECT_EQ(r.hIcon(), 0x18171615u);

    r.setHIcon(0xFFFFFFFF);
    EXPECT_EQ(r.hIcon(), 0xFFFFFFFFu);
    EXPECT_EQ(r.uCallbackMessage(), 0x14131211u);  // neighbours untouched
    EXPECT_EQ(r.bytes()[24], 0);
}

TEST(TrayIconRecord, TipIsTheCaptionInCodePage932) {
    TrayIconRecord r;
    r.setTip("Zorvek-自動Pinging");
    // 自 = 8E A9 and 動 = 93 AE in code page 932: 18 bytes, then the zero.
    const std::string expected = "Zorvek-\x8E\xA9\x93\xAEPinging";
    ASSERT_EQ(expected.size(), 18u);
    EXPECT_EQ(tipBytes(r), zeroPadded(expected));
    // The tip does not spill into the fields in front of it.
    for (size_t i = 0; i < TrayIconRecord::kTipOffset; ++i)
        EXPECT_EQ(r.bytes()[i], 0) << "byte " << i;
}

TEST(TrayIconRecord, LongTipsAreCutAtWholeCharacters) {
    const std::string kanji = "自";  // 8E A9
    const std::string kanjiCp932 = "\x8E\xA9";
    const std::string halfKana = "ｱ";  // B1: one byte, not a lead byte
    struct Row {
        const char* name;
        std::string caption;
        std::string expectedText;  // the bytes before the zero
    };
    const Row rows[] = {
        {"100 ASCII", std::string(100, 'a'), std::string(64, 'a')},
        {"64 ASCII", std::string(64, 'b'), std::string(64, 'b')},
        {"63 ASCII", std::string(63, 'c'), std::string(63, 'c')},
        {"32 kanji, exactly 64 bytes", repeat(kanji, 32), repeat(kanjiCp932, 32)},
        {"33 kanji", repeat(kanji, 33), repeat(kanjiCp932, 32)},
        {"one ASCII then kanji: byte 64 would split one", "x" + repeat(kanji, 40),
         "x" + repeat(kanjiCp932, 31)},
        {"63 ASCII then a kanji", std::string(63, 'd') + kanji, std::string(63, 'd')},
        {"62 ASCII then a kanji", std::string(62, 'e') + kanji, std::string(62, 'e') + kanjiCp932},
        {"100 half-width kana", repeat(halfKana, 100), std::string(64, '\xB1')},
        {"one ASCII then half-width kana", "x" + repeat(halfKana, 100),
         "x" + std::string(63, '\xB1')},
        {"empty", "", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TrayIconRecord record;
        record.setTip(r.caption);
        EXPECT_EQ(tipBytes(record), zeroPadded(r.expectedText));
        EXPECT_EQ(record.tip()[64], 0);
    }
}

TEST(TrayIconRecord, ShorterTipLeavesNothingOfTheLongerOneBehind) {
    TrayIconRecord r;
    r.setTip(std::string(100, 'a'));
    r.setTip("Zorvek");
    EXPECT_EQ(tipBytes(r), zeroPadded("Zorvek"));
}

}  // namespace
}  // namespace zorvek::tray
