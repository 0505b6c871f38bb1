// SPDX-License-Identifier: MIT
// Bounded random-input run of the settings file reader: deterministic
// pseudo-random files, mixing the bytes that matter to the reader, checked
// against the invariants the fuzz target checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fuzz/settings_file_invariants.h"
#include "settings/settings_file.h"

namespace zorvek::settings {
namespace {

// A small generator with a fixed sequence on every platform (the standard
// distributions are not specified bit for bit).
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint32_t>(state_ >> 16);
    }
    uint32_t below(uint32_t n) { return next() % n; }
    bool chance(uint32_t percent) { return below(100) < percent; }

private:
    uint64_t state_;
};

// One piece of input, weighted towards what the reader reacts to.
void appendPiece(Random& random, std::string& out) {
    static const char kSpecials[] = "\",\r\n \t.eE-+:";
    switch (random.below(10)) {
        case 0:
        case 1: out += kSpecials[random.below(sizeof kSpecials - 1)]; break;
        case 2:
        case 3: out += static_cast<char>('0' + random.below(10)); break;
        case 4: out += static_cast<char>('a' + random.below(26)); break;
        case 5: out += static_cast<char>(0x80 + random.below(0x80)); break;  // any high byte
        case 6:  // a valid double-byte character, trail bytes include letters
            out += static_cast<char>(0x81 + random.below(0x1F));
            out += static_cast<char>(random.chance(50) ? 0x40 + random.below(0x3F)
                                                       : 0x80 + random.below(0x7D));
            break;
        case 7: out += static_cast<char>(0xA1 + random.below(0x3F)); break;  // half-width kana
        case 8: out += static_cast<char>(random.below(0x20)); break;         // control bytes
        default: out += ','; break;
    }
}

// Mostly harmless text characters, now and then anything at all.
void appendTextPiece(Random& random, std::string& out) {
    if (random.chance(15)) {
        appendPiece(random, out);
    } else if (random.chance(20)) {
        out += static_cast<char>(0x81 + random.below(0x1F));  // double-byte character
        out += static_cast<char>(0x40 + random.below(0x3F));
    } else {
        static const char kPlain[] = "abcxyz019.:- ";
        out += kPlain[random.below(sizeof kPlain - 1)];
    }
}

// Something shaped like a settings file, so that many inputs get past the
// item count and on through the conversions to each stage of the load.
std::string shapedFile(Random& random) {
    static const char* const kNumbers[] = {
        "0",     "1",     "2",        "-1", "0.5", "1.5", "2.5", "32767", "32767.5", "-32768",
        "99999", "1e300", "1e999999", ".5", "5.",  "1e",  "007", " 3 ",   "1.0",     "-0.4"};
    static const char* const kSeparators[] = {",",    ",",  ",",  ",",  ",\r\n",
                                              "\r\n", "\n", "\r", " , "};
    std::string out;
    const uint32_t items = 6 + random.below(4);
    for (uint32_t i = 0; i < items; ++i) {
        const bool checkItem = i == 4 || i == 5;
        if (checkItem && random.chance(75)) {
            out += random.chance(50) ? '1' : '0';
        } else if (random.chance(checkItem || i == 1 ? 60 : 15)) {
            out += kNumbers[random.below(sizeof kNumbers / sizeof kNumbers[0])];
        } else {
            const bool quoted = random.chance(80);
            if (quoted) out += '"';
            const uint32_t length = random.below(8);
            for (uint32_t k = 0; k < length; ++k) appendTextPiece(random, out);
            if (quoted && random.chance(90)) out += '"';
        }
        if (i + 1 < items || random.chance(70)) {
            out += kSeparators[random.below(sizeof kSeparators / sizeof kSeparators[0])];
        }
    }
    return out;
}

TEST(SettingsFileRandom, InvariantsHoldOnPseudoRandomFiles) {
    Random random(0x5EED'2024'0BAD'F00Dull);
    constexpr int kRuns = 20000;
    int parsed = 0;
    int stages[4] = {};
    for (int run = 0; run < kRuns; ++run) {
        std::string bytes;
        if (random.chance(50)) {
            bytes = shapedFile(random);
        } else {
            const uint32_t length = random.below(120);
            for (uint32_t k = 0; k < length; ++k) appendPiece(random, bytes);
        }
        const auto failure = fuzzing::checkSettingsFileInvariants(bytes);
        ASSERT_FALSE(failure.has_value())
            << *failure << "\nrun " << run << ", input: " << ::testing::PrintToString(bytes);
        if (parseSettingsFile(bytes)) ++parsed;
        SettingsControls controls;
        SettingsRecord record;
        ++stages[static_cast<int>(applySettingsFile(bytes, controls, record))];
    }
    // The run is only worth something if it reaches every stage often.
    EXPECT_GT(parsed, kRuns / 10);
    for (int stage = 0; stage < 4; ++stage) {
        EXPECT_GT(stages[stage], kRuns / 100) << toString(static_cast<LoadStage>(stage));
    }
    RecordProperty("parsed", parsed);
    RecordProperty("complete", stages[3]);
}

}  // namespace
}  // namespace zorvek::settings
