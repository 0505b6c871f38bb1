// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "companion/companion_library.h"

namespace zorvek::companion {
namespace {

TEST(CompanionLibraryTest, MissingLibraryOrEntryGiveTheirCodesAndAreRetried) {
    CompanionLibrary missing{ZORVEK_FAKE_DIR, {}, "ZorvekDoesNotExist"};
    EXPECT_EQ(missing.ping("127.0.0.1"), -2);
    EXPECT_EQ(missing.ping("127.0.0.1"), -2);
    CompanionLibrary noEntry{ZORVEK_FAKE_DIR, {}, "ZorvekNoEntry"};
    EXPECT_EQ(noEntry.ping("127.0.0.1"), -3);
    EXPECT_EQ(noEntry.ping("127.0.0.1"), -3);
    CompanionLibrary fake{ZORVEK_FAKE_DIR, {}, "ZorvekFake"};
    EXPECT_EQ(fake.ping("code:1"), 1);
    EXPECT_EQ(fake.ping("code:-4"), -4);
}

// Every probe tries the load again; what failed is told once, not at every
// probe, and names the copy it concerns.
TEST(CompanionLibraryTest, EachReasonIsToldOnce) {
    std::vector<std::pair<std::string, LoadFailure>> told;
    const auto tell = [&told](const std::string& copy, const LoadFailure& failure) {
        told.emplace_back(copy, failure);
    };
    CompanionLibrary missing{ZORVEK_FAKE_DIR, tell, "ZorvekDoesNotExist"};
    CompanionLibrary noEntry{ZORVEK_FAKE_DIR, tell, "ZorvekNoEntry"};
    for (int i = 0; i < 3; ++i) {
        missing.ping("127.0.0.1");
        noEntry.ping("127.0.0.1");
    }
    ASSERT_EQ(told.size(), 2u);
    // Nothing by the name beside the program: the search path was tried.
    EXPECT_EQ(told[0].first, "libZorvekDoesNotExist.so");
    EXPECT_EQ(told[0].second.step, LoadStep::Load);
    EXPECT_EQ(told[0].second.path, "libZorvekDoesNotExist.so");
    EXPECT_FALSE(told[0].second.detail.empty()) << "the dynamic linker's words are lost";
    EXPECT_EQ(told[1].first, std::string(ZORVEK_FAKE_DIR) + "/libZorvekNoEntry.so");
    EXPECT_EQ(told[1].second.step, LoadStep::NoEntry);
}

}  // namespace
}  // namespace zorvek::companion
