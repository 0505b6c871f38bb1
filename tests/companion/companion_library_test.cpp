// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "companion/companion_library.h"

namespace zorvek::companion {
namespace {

TEST(CompanionLibraryTest, MissingLibraryOrEntryGiveTheirCodesAndAreRetried) {
    CompanionLibrary missing{ZORVEK_FAKE_DIR, "ZorvekDoesNotExist"};
    EXPECT_EQ(missing.ping("127.0.0.1"), -2);
    EXPECT_EQ(missing.ping("127.0.0.1"), -2);
    CompanionLibrary noEntry{ZORVEK_FAKE_DIR, "ZorvekNoEntry"};
    EXPECT_EQ(noEntry.ping("127.0.0.1"), -3);
    EXPECT_EQ(noEntry.ping("127.0.0.1"), -3);
    CompanionLibrary fake{ZORVEK_FAKE_DIR, "ZorvekFake"};
    EXPECT_EQ(fake.ping("code:1"), 1);
    EXPECT_EQ(fake.ping("code:-4"), -4);
}

}  // namespace
}  // namespace zorvek::companion
