// SPDX-License-Identifier: MIT
#include "resolver.h"

#include <netdb.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zorvek::resolve {
namespace {

bool isLabelByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// Copies the addresses of a getaddrinfo() list, IPv4 and IPv6 only.
std::vector<sockaddr_storage> collect(const addrinfo* list) {
    std::vector<sockaddr_storage> out;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
        if (ai->ai_addr == nullptr || ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
        sockaddr_storage ss{};
        std::memcpy(&ss, ai->ai_addr, ai->ai_addrlen);
        out.push_back(ss);
    }
    return out;
}

addrinfo makeHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address
    hints.ai_flags = flags;
    return hints;
}

// Helper threads whose getaddrinfo() has not returned yet, in this process.
std::atomic<int> lookupsInFlight{0};

bool reserveLookup() {
    int running = lookupsInFlight.load();
    do {
        if (running >= kMaxLookupsInFlight) return false;
    } while (!lookupsInFlight.compare_exchange_weak(running, running + 1));
    return true;
}

void releaseLookup() { lookupsInFlight.fetch_sub(1); }

// State shared between a waiting call and its helper thread. The helper owns
// a reference, so it stays valid if the caller has given up and returned.
struct Lookup {
    std::mutex mutex;
    std::condition_variable doneCv;
    bool done = false;
    int rc = EAI_FAIL;
    std::vector<sockaddr_storage> addresses;
};

void runLookup(const std::shared_ptr<Lookup>& lookup, const std::string& name) {
    const addrinfo hints = makeHints(0);
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
    std::vector<sockaddr_storage> addresses;
    if (rc == 0) {
        addresses = collect(list);
        freeaddrinfo(list);
    }
    // The slot is free before the waiting caller hears of the answer, so a
    // caller that probes again at once never finds its own lookup counted.
    releaseLookup();
    std::lock_guard lock(lookup->mutex);
    lookup->rc = rc;
    lookup->addresses = std::move(addresses);
    lookup->done = true;
    lookup->doneCv.notify_all();
}

}  // namespace

bool isValidHostName(std::string_view name) {
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    if (name.empty() || name.size() > 253) return false;
    std::size_t label = 0;
    for (const char c : name) {
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        if (!isLabelByte(c) || ++label > 63) return false;
    }
    return label != 0;
}

Result resolveHost(std::string_view host, Clock::time_point deadline) {
    Result result;
    const std::string name(host);
    if (name.size() != std::strlen(name.c_str())) {  // embedded NUL
        result.status = Status::InvalidName;
        return result;
    }

    // Address literals: parsed locally, never sent to a name server.
    const addrinfo numericHints = makeHints(AI_NUMERICHOST);
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &numericHints, &list) == 0) {
        result.addresses = collect(list);
        freeaddrinfo(list);
        result.status = result.addresses.empty() ? Status::NotFound : Status::Ok;
        return result;
    }

    if (!isValidHostName(name)) {
        result.status = Status::InvalidName;
        return result;
    }

    if (!reserveLookup()) {
        result.status = Status::Busy;
        return result;
    }
    std::shared_ptr<Lookup> lookup;
    try {
        lookup = std::make_shared<Lookup>();
        std::thread([lookup, name] { runLookup(lookup, name); }).detach();
    } catch (...) {
        // No thread to bound the lookup with (or no memory to start one); a
        // blocking lookup could exceed the time bound, so the name counts as
        // not resolved in time. The helper never ran, so its slot is ours.
        releaseLookup();
        result.status = Status::TimedOut;
        return result;
    }

    std::unique_lock lock(lookup->mutex);
    if (!lookup->doneCv.wait_until(lock, deadline, [&] { return lookup->done; })) {
        result.status = Status::TimedOut;
        return result;
    }
    if (lookup->rc != 0 || lookup->addresses.empty()) {
        result.status = Status::NotFound;
        return result;
    }
    result.addresses = std::move(lookup->addresses);
    result.status = Status::Ok;
    return result;
}

}  // namespace zorvek::resolve
