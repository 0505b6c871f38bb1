// SPDX-License-Identifier: MIT
// What a lower layer reports when a step fails: which step (an enumeration of
// the layer's own), the errno the system gave and the path concerned. Lower
// layers put nothing in words; the sentences a user reads are made from this
// where the program shows them.
#pragma once

#include <string>

namespace zorvek::base {

template <typename Step>
struct Failure {
    Step step{};
    int err = 0;         // errno; 0 when no system call failed
    std::string path;    // the file or folder concerned; empty when none
    std::string detail;  // words from below (an exception's own text), or a size

    bool operator==(const Failure&) const = default;
};

}  // namespace zorvek::base
