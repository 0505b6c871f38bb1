// SPDX-License-Identifier: MIT
// The library's one exported function: validate, resolve, probe, map the
// outcome to the result codes the program expects.
#include <chrono>
#include <cstring>
#include <string_view>

#include "echo.h"
#include "resolver.h"
#include "zorvek.h"

namespace {

using Clock = std::chrono::steady_clock;

// Name resolution may use at most this much of the call...
constexpr std::chrono::milliseconds kResolveBudget{1000};
// ...and the whole call, resolution and echo together, this much. With
// requests at 0 s and 1 s after resolution, the second request always has at
// least 0.5 s to be answered, and a silent host returns well inside 3 s.
constexpr std::chrono::milliseconds kTotalBudget{2500};

// The first IPv4 address, then the first IPv6 address (used only if no IPv4
// ICMP socket can be opened). IPv4 goes first whatever the resolver's order,
// so a dual-stack name is always probed the same way.
std::vector<sockaddr_storage> pickCandidates(const std::vector<sockaddr_storage>& addresses) {
    std::vector<sockaddr_storage> picked;
    for (const int family : {AF_INET, AF_INET6}) {
        for (const sockaddr_storage& ss : addresses) {
            if (ss.ss_family == family) {
                picked.push_back(ss);
                break;
            }
        }
    }
    return picked;
}

int32_t probe(const char* host) {
    if (host == nullptr || *host == '\0') return ZORVEK_EMPTY_HOST;
    const Clock::time_point start = Clock::now();

    const auto resolved = zorvek::resolve::resolveHost(std::string_view(host, std::strlen(host)),
                                                       start + kResolveBudget);
    if (resolved.status != zorvek::resolve::Status::Ok) return ZORVEK_HOST_NOT_FOUND;

    const auto candidates = pickCandidates(resolved.addresses);
    if (candidates.empty()) return ZORVEK_HOST_NOT_FOUND;

    switch (zorvek::echo::exchange(candidates, start + kTotalBudget)) {
        case zorvek::echo::Outcome::Reply: return ZORVEK_SUCCESS;
        case zorvek::echo::Outcome::NoSocket: return ZORVEK_NO_SOCKET;
        case zorvek::echo::Outcome::NoReply: break;
    }
    return ZORVEK_PING_ERROR;
}

}  // namespace

extern "C" ZORVEK_EXPORT int32_t Pinging(const char* host) {
    try {
        return probe(host);
    } catch (...) {
        // Nothing may cross the C boundary; out of memory and the like count as
        // a failed ping.
        return ZORVEK_PING_ERROR;
    }
}
