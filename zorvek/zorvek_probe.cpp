// SPDX-License-Identifier: MIT
// zorvek-probe HOST: one probe from the command line, printing the same
// result line as the program's log.
#include <cstdio>
#include <string>

#include "messages.h"
#include "text/cp932.h"
#include "zorvek.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s HOST\n", argc > 0 ? argv[0] : "zorvek-probe");
        return 2;
    }
    // The library takes code page 932 bytes; the shell gives UTF-8.
    const std::string host = zorvek::cp932::fromUtf8(argv[1]);
    const int32_t code = Pinging(host.c_str());
    std::printf("%s\n", zorvek::resultLine(code).c_str());
    std::fflush(stdout);
    return code == ZORVEK_SUCCESS ? 0 : 1;
}
