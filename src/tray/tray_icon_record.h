// SPDX-License-Identifier: MIT
// The notification-icon record handed to the shell: 89 bytes without gaps,
// little-endian, laid out as the platform's original notify structure with a
// 64-character tip. Kept as raw bytes so the layout is exactly what is written,
// whatever the compiler's alignment rules.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zorvek::tray {

// uFlags bits.
inline constexpr uint32_t NIF_MESSAGE = 1;
inline constexpr uint32_t NIF_ICON = 2;
inline constexpr uint32_t NIF_TIP = 4;

class TrayIconRecord {
public:
    static constexpr size_t kSize = 89;
    static constexpr size_t kCbSizeOffset = 0;
    static constexpr size_t kHWndOffset = 4;
    static constexpr size_t kUIdOffset = 8;
    static constexpr size_t kUFlagsOffset = 12;
    static constexpr size_t kUCallbackMessageOffset = 16;
    static constexpr size_t kHIconOffset = 20;
    static constexpr size_t kTipOffset = 24;
    static constexpr size_t kTipSize = 65;  // 64 bytes of text and its terminating zero
    static constexpr size_t kTipMaxText = kTipSize - 1;
    static_assert(kTipOffset + kTipSize == kSize);

    using Bytes = std::array<uint8_t, kSize>;

    // Every byte starts at zero.
    TrayIconRecord() = default;

    uint32_t cbSize() const { return read32(kCbSizeOffset); }
    uint32_t hWnd() const { return read32(kHWndOffset); }
    uint32_t uID() const { return read32(kUIdOffset); }
    uint32_t uFlags() const { return read32(kUFlagsOffset); }
    uint32_t uCallbackMessage() const { return read32(kUCallbackMessageOffset); }
    uint32_t hIcon() const { return read32(kHIconOffset); }

    void setCbSize(uint32_t v) { write32(kCbSizeOffset, v); }
    void setHWnd(uint32_t v) { write32(kHWndOffset, v); }
    void setUID(uint32_t v) { write32(kUIdOffset, v); }
    void setUFlags(uint32_t v) { write32(kUFlagsOffset, v); }
    void setUCallbackMessage(uint32_t v) { write32(kUCallbackMessageOffset, v); }
    void setHIcon(uint32_t v) { write32(kHIconOffset, v); }

    // Writes the caption (UTF-8) into szTip in code page 932 followed by a zero
    // byte. A caption longer than 64 bytes in code page 932 is cut at 64 bytes,
    // or at 63 where byte 64 would split a double-byte character. The field is
    // cleared first, so nothing of an earlier, longer tip lingers behind the zero.
    void setTip(std::string_view captionUtf8);

    // The 65 bytes of szTip.
    std::span<const uint8_t, kTipSize> tip() const {
        return std::span<const uint8_t, kTipSize>(bytes_.data() + kTipOffset, kTipSize);
    }

    const Bytes& bytes() const { return bytes_; }

private:
    uint32_t read32(size_t offset) const;
    void write32(size_t offset, uint32_t v);

    Bytes bytes_{};
};

}  // namespace zorvek::tray
