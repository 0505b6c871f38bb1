// SPDX-License-Identifier: MIT
#include "tray/tray_icon_record.h"

#include <algorithm>
#include <string>

#include "text/cp932.h"

namespace zorvek::tray {

uint32_t TrayIconRecord::read32(size_t offset) const {
    return static_cast<uint32_t>(bytes_[offset]) | static_cast<uint32_t>(bytes_[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes_[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes_[offset + 3]) << 24;
}

void TrayIconRecord::write32(size_t offset, uint32_t v) {
    bytes_[offset] = static_cast<uint8_t>(v);
    bytes_[offset + 1] = static_cast<uint8_t>(v >> 8);
    bytes_[offset + 2] = static_cast<uint8_t>(v >> 16);
    bytes_[offset + 3] = static_cast<uint8_t>(v >> 24);
}

void TrayIconRecord::setTip(std::string_view captionUtf8) {
    uint8_t* const tip = bytes_.data() + kTipOffset;
    std::fill(tip, tip + kTipSize, uint8_t{0});

    const std::string encoded = cp932::fromUtf8(captionUtf8);
    // Copy whole characters while they fit in the 64 text bytes; the zero after
    // them is already in place from the clearing above.
    size_t i = 0;
    while (i < encoded.size()) {
        const size_t width = cp932::isLeadByte(static_cast<unsigned char>(encoded[i])) ? 2 : 1;
        if (i + width > kTipMaxText || i + width > encoded.size()) break;
        for (size_t k = 0; k < width; ++k) tip[i + k] = static_cast<uint8_t>(encoded[i + k]);
        i += width;
    }
}

}  // namespace zorvek::tray
