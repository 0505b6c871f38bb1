// SPDX-License-Identifier: MIT
#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "settings/conversions.h"

namespace zorvek::settings {

// Readable failure messages for the structs compared below.
void PrintTo(const SettingsControls& c, std::ostream* os) {
    *os << "{[" << c.text[0] << "|" << c.text[1] << "|" << c.text[2] << "|" << c.text[3]
        << "] check1=" << c.check1 << " check2=" << c.check2 << " seconds=" << c.seconds << "}";
}
void PrintTo(const SettingsRecord& r, std::ostream* os) {
    *os << "{" << r.HostName << " " << r.Interval << " " << r.WindowStart << "-" << r.WindowEnd
        << " log=" << r.LogToList << " box=" << r.ShowErrorBox << "}";
}
void PrintTo(LoadStage stage, std::ostream* os) { *os << toString(stage); }

namespace {

using namespace std::string_literals;

const std::string kTesutoUtf8 = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト
const std::string kTesutoCp932 = "\x83\x65\x83\x58\x83\x67";

// A starting state no load would produce, so that every field a load touches
// shows up as changed and every field it must leave alone can be checked.
SettingsControls sentinelControls() {
    SettingsControls c;
    c.text = {"old host", "old count", "old start", "old end"};
    c.check1 = 7;
    c.check2 = 8;
    c.seconds = true;
    return c;
}
SettingsRecord sentinelRecord() { return {"old record host", 321, "01:23", "04:56", 9, 10}; }

// ---------------------------------------------------------------- writing

TEST(FormatSettingsFile, WritesTheExactBytes) {
    const struct {
        const char* name;
        SettingsFileLine line;
        std::string expected;
    } cases[] = {
        {"example, minutes",
         {"example.com", "5", "23:00", "07:59", 1, 0, false},
         "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n"},
        {"seconds selected",
         {"example.com", "5", "23:00", "07:59", 1, 0, true},
         "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,1\r\n"},
        {"both boxes, empty texts", {"", "", "", "", 1, 1, false}, "\"\",\"\",\"\",\"\",1,1,0\r\n"},
        {"Japanese host",
         {kTesutoUtf8 + ".example", "10", "0:00", "23:59", 0, 1, true},
         "\"" + kTesutoCp932 + ".example\",\"10\",\"0:00\",\"23:59\",0,1,1\r\n"},
        {"character outside the code page",
         {"a\xF0\x9F\x98\x80z", "1", "", "", 0, 0, false},  // U+1F600
         "\"a?z\",\"1\",\"\",\"\",0,0,0\r\n"},
        {"texts written as typed",
         {" a,b ", "x", "y", "z", 0, 0, false},
         "\" a,b \",\"x\",\"y\",\"z\",0,0,0\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatSettingsFile(c.line), c.expected) << c.name;
    }
}

TEST(LineFromControls, TakesEveryControl) {
    SettingsControls c;
    c.text = {"h", "3", "01:00", "02:00"};
    c.check1 = 0;
    c.check2 = 1;
    c.seconds = true;
    EXPECT_EQ(lineFromControls(c), (SettingsFileLine{"h", "3", "01:00", "02:00", 0, 1, true}));
}

// ---------------------------------------------------------------- reading items

TEST(ParseSettingsFile, ReadsTextAndNumberItems) {
    const auto items =
        parseSettingsFile("\"a,b\" , 005 ,  plain text\t,\"\",-2.50,1e3,\"7\"junk,ignored\r\n");
    ASSERT_TRUE(items.has_value());
    const IniItem expected[] = {
        {IniItem::Kind::Text, "a,b", 0},        {IniItem::Kind::Number, "5", 5},
        {IniItem::Kind::Text, "plain text", 0}, {IniItem::Kind::Text, "", 0},
        {IniItem::Kind::Number, "-2.5", -2.5},  {IniItem::Kind::Number, "1000", 1000},
        {IniItem::Kind::Text, "7", 0},
    };
    for (size_t i = 0; i < kSettingsItemCount; ++i) {
        EXPECT_EQ((*items)[i].kind, expected[i].kind) << "item " << i + 1;
        EXPECT_EQ((*items)[i].text, expected[i].text) << "item " << i + 1;
        EXPECT_EQ((*items)[i].number, expected[i].number) << "item " << i + 1;
    }
}

TEST(ParseSettingsFile, ItemBoundaries) {
    const struct {
        const char* name;
        std::string bytes;
        std::vector<std::string> texts;  // empty: parse must fail
    } cases[] = {
        {"one line", "\"a\",\"b\",\"c\",\"d\",1,0,0\r\n", {"a", "b", "c", "d", "1", "0", "0"}},
        {"no trailing line break",
         "\"a\",\"b\",\"c\",\"d\",1,0,0",
         {"a", "b", "c", "d", "1", "0", "0"}},
        {"items over several lines",
         "\"a\",\"b\"\r\n\"c\"\n\"d\"\r1\r\n\r\n0,0",
         {"a", "b", "c", "d", "1", "0", "0"}},
        {"comma then line break is one separator",
         "a,\r\nb,\nc,\rd,1,0,0",
         {"a", "b", "c", "d", "1", "0", "0"}},
        {"leading blank lines",
         "\r\n\n\r \t\"a\",b,c,d,1,0,0",
         {"a", "b", "c", "d", "1", "0", "0"}},
        {"empty items", ",,,,,,,", {"", "", "", "", "", "", ""}},
        {"six empty items", ",,,,,,", {}},
        {"quote runs to the line end when unclosed",
         "\"a,b\r\nc,d,e,f,g,h",
         {"a,b", "c", "d", "e", "f", "g", "h"}},
        {"text after the closing quote dropped",
         "\"a\"b c,\"d\" ,e,f,g,h,i",
         {"a", "d", "e", "f", "g", "h", "i"}},
        {"quote inside an unquoted item kept",
         "a\"b,c,d,e,f,g,h",
         {"a\"b", "c", "d", "e", "f", "g", "h"}},
        {"items after the seventh ignored",
         "1,2,3,4,5,6,7,8,\"9\r\n",
         {"1", "2", "3", "4", "5", "6", "7"}},
        {"six items", "\"a\",\"b\",\"c\",\"d\",1,0\r\n", {}},
        {"six items and a trailing comma", "\"a\",\"b\",\"c\",\"d\",1,0,", {}},
        {"six items and blank lines", "\"a\",\"b\",\"c\",\"d\",1,0,\r\n\r\n  ", {}},
        {"empty", "", {}},
        {"only line breaks", "\r\n\r\n", {}},
        {"unclosed quote at the end", "\"a,b,c,d,e,f,g", {}},
    };
    for (const auto& c : cases) {
        const auto items = parseSettingsFile(c.bytes);
        if (c.texts.empty()) {
            EXPECT_FALSE(items.has_value()) << c.name;
            continue;
        }
        ASSERT_TRUE(items.has_value()) << c.name;
        for (size_t i = 0; i < kSettingsItemCount; ++i) {
            EXPECT_EQ((*items)[i].text, c.texts[i]) << c.name << ", item " << i + 1;
        }
    }
}

TEST(ParseSettingsFile, DecodesCodePage932) {
    const auto items = parseSettingsFile("\"" + kTesutoCp932 + ".example\"," + kTesutoCp932 +
                                         ",\"\xB1\",d,1,0,0\r\n");
    ASSERT_TRUE(items.has_value());
    EXPECT_EQ((*items)[0].text, kTesutoUtf8 + ".example");
    // The second bytes of テ and ト are 'e' and 'g'; they must not make a number.
    EXPECT_EQ((*items)[1].kind, IniItem::Kind::Text);
    EXPECT_EQ((*items)[1].text, kTesutoUtf8);
    EXPECT_EQ((*items)[2].text, "\xEF\xBD\xB1");  // half-width katakana A
}

TEST(ParseSettingsFile, RejectsInvalidCodePage932InThePartRead) {
    const struct {
        const char* name;
        std::string bytes;
        bool loads;
    } cases[] = {
        {"lone lead byte before the closing quote", "\"\x83\",b,c,d,1,0,0", false},
        {"undefined byte in a text", "\"a\xFF\",b,c,d,1,0,0", false},
        {"lone lead byte in an unquoted item", "a,b\x81,c,d,1,0,0", false},
        {"bad byte in text dropped after a quote", "\"a\"\x81,b,c,d,1,0,0", false},
        {"bad byte in the seventh item", "a,b,c,d,1,0,0\x80", false},
        {"bad byte after the seventh item", "a,b,c,d,1,0,0,\x80\x81\xFF", true},
        {"bad byte on the next line", "a,b,c,d,1,0,0\r\n\xFF", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseSettingsFile(c.bytes).has_value(), c.loads) << c.name;
    }
}

// ---------------------------------------------------------------- applying

struct ApplyCase {
    const char* name;
    std::string bytes;
    LoadStage stage;
    SettingsControls controls;
    SettingsRecord record;
};

void expectApply(const ApplyCase& c) {
    SettingsControls controls = sentinelControls();
    SettingsRecord record = sentinelRecord();
    EXPECT_EQ(applySettingsFile(c.bytes, controls, record), c.stage) << c.name;
    EXPECT_EQ(controls, c.controls) << c.name;
    EXPECT_EQ(record, c.record) << c.name;
}

SettingsControls controlsWith(std::array<std::string, 4> text, int16_t check1, int16_t check2,
                              bool seconds) {
    SettingsControls c;
    c.text = std::move(text);
    c.check1 = check1;
    c.check2 = check2;
    c.seconds = seconds;
    return c;
}

TEST(ApplySettingsFile, CompleteLoads) {
    const SettingsRecord example{"example.com", 5, "23:00", "07:59", 1, 0};
    const auto exampleControls = [](bool seconds) {
        return controlsWith({"example.com", "5", "23:00", "07:59"}, 1, 0, seconds);
    };
    const ApplyCase cases[] = {
        {"CR LF", "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n", LoadStage::Complete,
         exampleControls(false), example},
        {"LF only", "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,0\n", LoadStage::Complete,
         exampleControls(false), example},
        {"CR only", "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,0\r", LoadStage::Complete,
         exampleControls(false), example},
        {"no line break", "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,0", LoadStage::Complete,
         exampleControls(false), example},
        {"seventh item 1 selects seconds", "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,1\r\n",
         LoadStage::Complete, exampleControls(true), example},
        {"seventh item 1.0 selects seconds", "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,1.0",
         LoadStage::Complete, exampleControls(true), example},
        {"quoted seventh item \"1\" selects seconds",
         "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,\"1\"", LoadStage::Complete,
         exampleControls(true), example},
        {"seventh item 2 means minutes", "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,2",
         LoadStage::Complete, exampleControls(false), example},
        {"seventh item text means minutes", "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,abc",
         LoadStage::Complete, exampleControls(false), example},
        {"seventh item empty means minutes", "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,,",
         LoadStage::Complete, exampleControls(false), example},
        {"items after the seventh ignored",
         "\"example.com\",\"5\",\"23:00\",\"07:59\",1,0,1,\"x\",99999,\xFF\r\n",
         LoadStage::Complete, exampleControls(true), example},
        {"commas inside quotes",
         "\"a,b\",\"5\",\"x,y\",\",\",0,1,0\r\n",
         LoadStage::Complete,
         controlsWith({"a,b", "5", "x,y", ","}, 0, 1, false),
         {"a,b", 5, "x,y", ",", 0, 1}},
        {"unquoted items, number texts in shortest form",
         "  host name  , 0010 ,7:5,8:00,1.0,0,0",
         LoadStage::Complete,
         controlsWith({"host name", "10", "7:5", "8:00"}, 1, 0, false),
         {"host name", 10, "7:5", "8:00", 1, 0}},
        {"counts and checks round half to even",
         "h,\"2.5\",s,e,0.5,1.4,0",
         LoadStage::Complete,
         controlsWith({"h", "2.5", "s", "e"}, 0, 1, false),
         {"h", 2, "s", "e", 0, 1}},
        {"quoted check values",
         "h,3,s,e,\"1\",\" 0 \",0",
         LoadStage::Complete,
         controlsWith({"h", "3", "s", "e"}, 1, 0, false),
         {"h", 3, "s", "e", 1, 0}},
        {"interval range and times are not checked here",
         "h,-7,99:99,,0,0,0",
         LoadStage::Complete,
         controlsWith({"h", "-7", "99:99", ""}, 0, 0, false),
         {"h", -7, "99:99", "", 0, 0}},
        {"Japanese host",
         "\"" + kTesutoCp932 + ".example\",\"1\",\"0:00\",\"23:59\",0,1,1\r\n",
         LoadStage::Complete,
         controlsWith({kTesutoUtf8 + ".example", "1", "0:00", "23:59"}, 0, 1, true),
         {kTesutoUtf8 + ".example", 1, "0:00", "23:59", 0, 1}},
    };
    for (const auto& c : cases) expectApply(c);
}

TEST(ApplySettingsFile, StopsAtTheFirstFailure) {
    const SettingsControls untouched = sentinelControls();
    const SettingsRecord unchanged = sentinelRecord();
    // Texts set, check boxes still at their sentinel values 7 and 8.
    const auto textsOnly = [&](std::array<std::string, 4> text) {
        return controlsWith(std::move(text), untouched.check1, untouched.check2, untouched.seconds);
    };
    const auto withHost = [&](const std::string& host) {
        SettingsRecord r = unchanged;
        r.HostName = host;
        return r;
    };
    const ApplyCase cases[] = {
        {"six items", "\"h\",\"5\",\"01:00\",\"02:00\",1,0\r\n", LoadStage::NothingApplied,
         untouched, unchanged},
        {"empty file", "", LoadStage::NothingApplied, untouched, unchanged},
        {"invalid code page 932", "\"h\x81\",\"5\",\"01:00\",\"02:00\",1,0,0\r\n",
         LoadStage::NothingApplied, untouched, unchanged},
        {"check1 not a number", "\"h\",\"5\",\"01:00\",\"02:00\",abc,0,0\r\n",
         LoadStage::TextsFilled, textsOnly({"h", "5", "01:00", "02:00"}), unchanged},
        {"check1 quoted text", "\"h\",\"5\",\"01:00\",\"02:00\",\"abc\",0,0\r\n",
         LoadStage::TextsFilled, textsOnly({"h", "5", "01:00", "02:00"}), unchanged},
        {"check1 outside 16 bits", "\"h\",\"5\",\"01:00\",\"02:00\",99999,0,0\r\n",
         LoadStage::TextsFilled, textsOnly({"h", "5", "01:00", "02:00"}), unchanged},
        {"check1 1e300", "\"h\",\"5\",\"01:00\",\"02:00\",1e300,0,0\r\n", LoadStage::TextsFilled,
         textsOnly({"h", "5", "01:00", "02:00"}), unchanged},
        {"check1 neither 0 nor 1", "\"h\",\"5\",\"01:00\",\"02:00\",2,0,0\r\n",
         LoadStage::TextsFilled, textsOnly({"h", "5", "01:00", "02:00"}), unchanged},
        {"check1 -1", "\"h\",\"5\",\"01:00\",\"02:00\",-1,0,0\r\n", LoadStage::TextsFilled,
         textsOnly({"h", "5", "01:00", "02:00"}), unchanged},
        {"check1 empty", "\"h\",\"5\",\"01:00\",\"02:00\",,0,0\r\n", LoadStage::TextsFilled,
         textsOnly({"h", "5", "01:00", "02:00"}), unchanged},
        {"check2 bad after check1 set", "\"h\",\"5\",\"01:00\",\"02:00\",1,2,0\r\n",
         LoadStage::TextsFilled, controlsWith({"h", "5", "01:00", "02:00"}, 1, 8, true), unchanged},
        {"count not a number", "\"h\",\"abc\",\"01:00\",\"02:00\",1,1,0\r\n",
         LoadStage::HostNameOnly, controlsWith({"h", "abc", "01:00", "02:00"}, 1, 1, true),
         withHost("h")},
        {"count 99999", "\"h\",\"99999\",\"01:00\",\"02:00\",0,1,0\r\n", LoadStage::HostNameOnly,
         controlsWith({"h", "99999", "01:00", "02:00"}, 0, 1, true), withHost("h")},
        {"count 1e300 unquoted", "\"h\",1e300,\"01:00\",\"02:00\",0,0,0\r\n",
         LoadStage::HostNameOnly, controlsWith({"h", "1e+300", "01:00", "02:00"}, 0, 0, true),
         withHost("h")},
        {"count 1e999999 unquoted keeps its text", "\"h\",1e999999,\"01:00\",\"02:00\",0,0,0",
         LoadStage::HostNameOnly, controlsWith({"h", "1e999999", "01:00", "02:00"}, 0, 0, true),
         withHost("h")},
        {"count 32767.5", "\"h\",\"32767.5\",\"01:00\",\"02:00\",0,0,0\r\n",
         LoadStage::HostNameOnly, controlsWith({"h", "32767.5", "01:00", "02:00"}, 0, 0, true),
         withHost("h")},
        {"count empty", "\"h\",\"\",\"01:00\",\"02:00\",0,0,1\r\n", LoadStage::HostNameOnly,
         controlsWith({"h", "", "01:00", "02:00"}, 0, 0, true), withHost("h")},
    };
    for (const auto& c : cases) expectApply(c);
}

TEST(ApplySettingsFile, WriteThenLoadGivesTheSameState) {
    const SettingsControls cases[] = {
        controlsWith({"example.com", "5", "23:00", "07:59"}, 1, 0, false),
        controlsWith({"example.com", "5", "23:00", "07:59"}, 1, 0, true),
        controlsWith({"192.0.2.1", "999", "00:00", "23:59"}, 0, 1, true),
        controlsWith({"", "1", "", ""}, 0, 0, false),
        controlsWith({kTesutoUtf8 + ".example", "30", "9:30", "17:00"}, 1, 1, false),
        controlsWith({" spaced , host ", " 12 ", " 7:05 ", "\t8:00"}, 1, 1, true),
        controlsWith({"h", "2.5", "1,2", "3,4"}, 0, 0, true),
    };
    for (const auto& original : cases) {
        const std::string bytes = formatSettingsFile(lineFromControls(original));
        SettingsControls controls = sentinelControls();
        SettingsRecord record = sentinelRecord();
        ASSERT_EQ(applySettingsFile(bytes, controls, record), LoadStage::Complete) << bytes;
        EXPECT_EQ(controls, original) << bytes;
        const SettingsRecord expected{
            original.text[0], *toInt16(std::string_view(original.text[1])),
            original.text[2], original.text[3],
            original.check1,  original.check2};
        EXPECT_EQ(record, expected) << bytes;
        EXPECT_EQ(formatSettingsFile(lineFromControls(controls)), bytes);
    }
}

// ---------------------------------------------------------------- hostile input

TEST(ApplySettingsFile, HostileInputFailsCleanly) {
    std::string everyByte;
    for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(i);
    std::string junk;
    uint32_t state = 12345;
    for (int i = 0; i < 4096; ++i) {
        state = state * 1103515245u + 12345u;
        junk += static_cast<char>(0x80 | (state >> 24));  // high bytes only
    }
    const std::string longDigits(100000, '9');

    const struct {
        const char* name;
        std::string bytes;
        LoadStage stage;
    } cases[] = {
        {"every byte value", everyByte, LoadStage::NothingApplied},
        {"every byte value, seven commas first", ",,,,,,," + everyByte, LoadStage::TextsFilled},
        {"high-byte junk", junk, LoadStage::NothingApplied},
        {"nul bytes", std::string(64, '\0'), LoadStage::NothingApplied},
        {"100,000-digit check value", "h,5,s,e," + longDigits + ",0,0", LoadStage::TextsFilled},
        {"100,000-digit count", "h," + longDigits + ",s,e,1,0,0", LoadStage::HostNameOnly},
    };
    for (const auto& c : cases) {
        SettingsControls controls = sentinelControls();
        SettingsRecord record = sentinelRecord();
        EXPECT_EQ(applySettingsFile(c.bytes, controls, record), c.stage) << c.name;
        if (c.stage == LoadStage::NothingApplied) {
            EXPECT_EQ(controls, sentinelControls()) << c.name;
            EXPECT_EQ(record, sentinelRecord()) << c.name;
        }
    }
}

TEST(ApplySettingsFile, HugeInputsAreScannedOnlyAsFarAsNeeded) {
    // A million commas: seven empty items, the rest never looked at (the bad
    // byte at the very end would otherwise reject the file).
    const std::string commas = std::string(1000000, ',') + "\xFF";
    // A million line breaks before the record, and a megabyte host name: both
    // must be scanned, in linear time (the host is then refused: it could not
    // be saved back as a file that loads).
    const std::string blankLines = std::string(1000000, '\n') + "h,5,s,e,1,0,1\r\n";
    const std::string longHost = "\"" + std::string(1000000, 'x') + "\",5,s,e,0,1,0";

    const auto start = std::chrono::steady_clock::now();
    SettingsControls controls = sentinelControls();
    SettingsRecord record = sentinelRecord();
    EXPECT_EQ(applySettingsFile(commas, controls, record), LoadStage::TextsFilled);
    EXPECT_EQ(controls.text, (std::array<std::string, 4>{"", "", "", ""}));
    EXPECT_EQ(record, sentinelRecord());

    controls = sentinelControls();
    EXPECT_EQ(applySettingsFile(blankLines, controls, record), LoadStage::Complete);
    EXPECT_TRUE(controls.seconds);

    controls = sentinelControls();
    EXPECT_EQ(applySettingsFile(longHost, controls, record), LoadStage::NothingApplied);
    EXPECT_EQ(controls, sentinelControls());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(3));
}

}  // namespace
}  // namespace zorvek::settings
