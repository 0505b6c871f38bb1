// SPDX-License-Identifier: MIT
// zorvek-probe HOST: one probe from the command line, printing the same
// result line as the program's log. The companion library is found and
// loaded at run time by the program's own loader, beside this executable, and
// the result line comes from the program's own table of messages, so both
// always agree.
#include <cstdio>
#include <cstring>
#include <string>

#include "companion/companion_library.h"
#include "companion/program_folder.h"
#include "companion/result_messages.h"
#include "text/cp932.h"
#include "ui/user_texts.h"

namespace {

constexpr char kName[] = "zorvek-probe";
constexpr int kExitReply = 0;
constexpr int kExitNoReply = 1;     // any result code other than 0
constexpr int kExitUsageError = 2;  // bad arguments, or the system cannot run the probe

void printHelp() {
    std::printf(
        "usage: %s HOST\n"
        "       %s --help | --version\n"
        "\n"
        "Probes HOST (a host name or an IPv4 or IPv6 address) once with ICMP echo\n"
        "through the companion library libZorvek.so beside this program, within\n"
        "2.5 seconds, and prints the result line of Zorvek's log, for example\n"
        "--------------------成功しました(0)\n"
        "\n"
        "Exit status: 0 when a reply came back, 1 for every other result code,\n"
        "2 on a usage error or when the host name cannot be converted.\n"
        "See zorvek-probe(1) for the result codes and the permission to ping.\n",
        kName, kName);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        printHelp();
        return kExitReply;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", kName, ZORVEK_VERSION);
        return kExitReply;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s HOST\n", argc > 0 ? argv[0] : kName);
        return kExitUsageError;
    }

    // The library takes code page 932 bytes; the shell gives UTF-8.
    std::string host;
    try {
        host = zorvek::cp932::fromUtf8(argv[1]);
    } catch (const zorvek::cp932::ConverterMissing& e) {
        std::fputs(zorvek::ui::hostNotConvertedLine(e.failure).c_str(), stderr);
        return kExitUsageError;
    }

    zorvek::companion::CompanionLibrary library(
        zorvek::companion::programFolder().value_or(std::string()),
        [](const std::string& copy, const zorvek::companion::LoadFailure& failure) {
            std::fputs(zorvek::ui::loadFailureLine(copy, failure).c_str(), stderr);
            std::fflush(stderr);
        });
    const int32_t code = library.ping(host);

    zorvek::companion::ResultMessages messages;
    messages.fill();
    std::printf("%s\n", zorvek::companion::resultLine(messages, code).c_str());
    std::fflush(stdout);
    return code == zorvek::companion::kCodeSuccess ? kExitReply : kExitNoReply;
}
