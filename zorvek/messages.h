// SPDX-License-Identifier: MIT
// Messages shown for the probe's result codes, and the log line built from them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zorvek {

// Every result line starts with this run of 20 hyphen-minus characters.
inline constexpr std::string_view kResultLinePrefix = "--------------------";

// Message for a result code (UTF-8). Codes -5 to 2 have a message; any other
// code yields an empty string.
constexpr std::string_view resultMessage(std::int32_t code) {
    switch (code) {
        case -5: return "WinSock version 1.1 がサポートされていません";
        case -4: return "Winsockの開始エラー";
        case -3: return "ICMPのアドレスが取得できません";
        case -2: return "ICMP.DLLが読み込めません";
        case -1: return "Host名が設定されていません";
        case 0: return "成功しました";
        case 1: return "ホストが見つかりません";
        case 2: return "Pingでエラーが発生しました";
        default: return "";
    }
}

// "--------------------<message>(<code>)", without a line break.
inline std::string resultLine(std::int32_t code) {
    std::string line(kResultLinePrefix);
    line += resultMessage(code);
    line += '(';
    line += std::to_string(code);
    line += ')';
    return line;
}

}  // namespace zorvek
