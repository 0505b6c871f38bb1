// SPDX-License-Identifier: MIT
// The sentences made from what a lower layer reports: each kind of failure
// reads as the user has always read it.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "ui/user_texts.h"

namespace zorvek::ui {
namespace {

TEST(UserTexts, EachMissingConversionIsNamed) {
    const cp932::ConverterFailure to{cp932::Conversion::ToCp932, EINVAL, {}, {}};
    const cp932::ConverterFailure from{cp932::Conversion::FromCp932, EINVAL, {}, {}};
    EXPECT_EQ(converterMissingMessage(to),
              "コードページ932の文字コード変換が使えないため、Zorvekを起動できません。\n"
              "iconv cannot convert UTF-8 to CP932 (the C library's code page converters are "
              "not installed)");
    EXPECT_EQ(hostNotConvertedLine(from),
              "zorvek-probe: cannot convert the host name to code page 932: iconv cannot convert "
              "CP932 to UTF-8 (the C library's code page converters are not installed)\n");
}

}  // namespace
}  // namespace zorvek::ui
