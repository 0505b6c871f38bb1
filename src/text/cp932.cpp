// SPDX-License-Identifier: MIT
#include "text/cp932.h"

#include <iconv.h>

#include <cerrno>

namespace zorvek::cp932 {
namespace {

// One iconv descriptor per conversion, opened and closed by this guard so that
// no conversion state survives between calls and threads never share one.
class Converter {
public:
    explicit Converter(Conversion conversion)
        : cd_(conversion == Conversion::ToCp932 ? iconv_open("CP932", "UTF-8")
                                                : iconv_open("UTF-8", "CP932")) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw ConverterMissing(ConverterFailure{conversion, errno, {}, {}});
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much as possible; stops at the first invalid or incomplete
    // sequence. Returns the number of input bytes consumed.
    size_t convert(std::string_view in, std::string& out) {
        char* inPtr = const_cast<char*>(in.data());
        size_t inLeft = in.size();
        char buffer[256];
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            if (rc == static_cast<size_t>(-1) && errno != E2BIG) break;
        }
        // Flush any shift state (none for these code pages, but cheap to be exact).
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        return in.size() - inLeft;
    }

private:
    iconv_t cd_;
};

// Length of the UTF-8 sequence that starts with `lead`, 1 for a stray byte.
size_t utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

// How many bytes at the front of `text` one '?' stands for: the lead byte and
// the continuation bytes that follow it, up to the length the lead byte
// announces. A truncated sequence thus never swallows the characters after it.
size_t badSequenceLength(std::string_view text) {
    const size_t announced = utf8Length(static_cast<unsigned char>(text.front()));
    size_t n = 1;
    while (n < announced && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        ++n;
    return n;
}

bool isAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

std::optional<ConverterFailure> converterProblem() {
    try {
        Converter toCp932(Conversion::ToCp932);
        Converter fromCp932(Conversion::FromCp932);
    } catch (const ConverterMissing& e) {
        return e.failure;
    }
    return std::nullopt;
}

bool isLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string fromUtf8(std::string_view utf8) {
    // ASCII reads the same in both, so it needs no converter.
    if (isAscii(utf8)) return std::string(utf8);
    Converter conv(Conversion::ToCp932);
    std::string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        size_t used = conv.convert(utf8, out);
        utf8.remove_prefix(used);
        if (utf8.empty()) break;
        // The character at the front cannot be encoded (or is malformed): put
        // the replacement character in its place and go on after it.
        out.push_back('?');
        utf8.remove_prefix(badSequenceLength(utf8));
    }
    return out;
}

std::optional<std::string> toUtf8(std::string_view bytes) {
    if (isAscii(bytes)) return std::string(bytes);
    Converter conv(Conversion::FromCp932);
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    if (conv.convert(bytes, out) != bytes.size()) return std::nullopt;
    return out;
}

}  // namespace zorvek::cp932
