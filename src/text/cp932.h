// SPDX-License-Identifier: MIT
// Conversion between the program's internal UTF-8 text and code page 932
// (Shift-JIS, Windows flavour), the code page in which text crosses the
// program's boundaries: the settings file, the companion library's argument and
// the notification tip.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/failure.h"

namespace zorvek::cp932 {

// The conversion that the C library cannot make: iconv_open() refused it
// (err), because its converter modules are not installed.
enum class Conversion {
    ToCp932,    // from UTF-8 to code page 932
    FromCp932,  // from code page 932 to UTF-8
};

using ConverterFailure = base::Failure<Conversion>;

// Thrown by the conversions below when the C library cannot convert between
// UTF-8 and code page 932 at all. Text that is plain ASCII never needs the
// converter.
struct ConverterMissing : std::exception {
    explicit ConverterMissing(ConverterFailure failure) : failure(std::move(failure)) {}
    const char* what() const noexcept override { return "no code page 932 converter"; }
    ConverterFailure failure;
};

// Nothing when both conversions are available, otherwise the first one that
// is not. Programs check this once at start-up, before any text crosses a
// boundary.
std::optional<ConverterFailure> converterProblem();

// Encodes UTF-8 text in code page 932. A character that the code page cannot
// represent becomes '?', as the platform's default character does; malformed
// UTF-8 bytes become '?' as well. Never fails.
std::string fromUtf8(std::string_view utf8);

// Decodes code page 932 bytes to UTF-8. Returns nothing when the bytes are not
// valid code page 932 (a lone lead byte, an undefined code).
std::optional<std::string> toUtf8(std::string_view bytes);

// True when `byte` starts a double-byte character in code page 932.
bool isLeadByte(unsigned char byte);

}  // namespace zorvek::cp932
