// SPDX-License-Identifier: MIT
#include "companion/result_messages.h"

namespace zorvek::companion {
namespace {
const std::string kUnknownResult = "不明な結果コードです";
}

void ResultMessages::fill() {
    rows_ = {
        "WinSock version 1.1 がサポートされていません",  // -5
        "Winsockの開始エラー",                           // -4
        "ICMPのアドレスが取得できません",                // -3
        "ICMP.DLLが読み込めません",                      // -2
        "Host名が設定されていません",                    // -1
        "成功しました",                                  //  0
        "ホストが見つかりません",                        //  1
        "Pingでエラーが発生しました",                    //  2
    };
}

const std::string& ResultMessages::messageFor(int32_t code) const {
    if (code < kLowest || code > kHighest) return kUnknownResult;
    const std::string& row = rows_[static_cast<size_t>(code - kLowest)];
    return row.empty() ? kUnknownResult : row;
}

std::string describeResult(const ResultMessages& messages, int32_t code) {
    return messages.messageFor(code) + "(" + std::to_string(code) + ")";
}

std::string resultLine(const ResultMessages& messages, int32_t code) {
    return kResultSeparator + describeResult(messages, code);
}

}  // namespace zorvek::companion
