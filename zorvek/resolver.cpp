// SPDX-License-Identifier: MIT
#include "resolver.h"

#include <netdb.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
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

// Lookups whose getaddrinfo() has not returned yet, in this process.
std::atomic<int> lookupsInFlight{0};

bool reserveLookup() {
    int running = lookupsInFlight.load();
    do {
        if (running >= kMaxLookupsInFlight) return false;
    } while (!lookupsInFlight.compare_exchange_weak(running, running + 1));
    return true;
}

void releaseLookup() { lookupsInFlight.fetch_sub(1); }

// State shared between a waiting call and the helper thread running its
// lookup. The helper owns a reference, so it stays valid if the caller has
// given up and returned.
struct Lookup {
    std::mutex mutex;
    std::condition_variable doneCv;
    bool done = false;
    int rc = EAI_FAIL;
    std::vector<sockaddr_storage> addresses;
};

struct Job {
    std::shared_ptr<Lookup> lookup;
    std::string name;
    int cpu = -1;  // the processor the caller was on, or -1 if not known
};

// A helper with nothing to do for this long ends, so an idle process keeps
// no lookup threads.
constexpr std::chrono::seconds kIdleEnd{60};

// The helper threads, kept between lookups: starting a thread costs more
// than looking up a name in the hosts file. There are never more of them
// than lookups in flight, so at most kMaxLookupsInFlight.
struct Pool {
    std::mutex mutex;
    std::condition_variable work;  // a job was queued
    std::deque<Job> queue;
    // Helpers waiting for work (or about to) less the jobs queued for them:
    // a new job starts a new helper only when this is 0.
    int spare = 0;
    // The pool this one replaced in a child of fork(), kept reachable.
    Pool* replaced = nullptr;
};

// Never destroyed: helpers may still be waiting, or inside getaddrinfo(),
// when the process exits, and must find their pool intact then.
Pool* currentPool = nullptr;
std::once_flag poolCreated;

// A child of fork() has none of the parent's helpers, nor its lookups: it
// starts with an empty pool and no lookup in flight. The lock is held across
// the fork so that the child never inherits it held by a thread it lacks.
void lockPoolForFork() { currentPool->mutex.lock(); }
void unlockPoolInParent() { currentPool->mutex.unlock(); }
void emptyPoolInChild() {
    lookupsInFlight.store(0);
    if (Pool* fresh = new (std::nothrow) Pool) {
        // The old one may hold a wait of a helper that is not here.
        fresh->replaced = currentPool;
        currentPool = fresh;
        return;
    }
    currentPool->queue.clear();
    currentPool->spare = 0;
    currentPool->mutex.unlock();
}

Pool& pool() {
    std::call_once(poolCreated, [] {
        currentPool = new Pool;
        (void)::pthread_atfork(lockPoolForFork, unlockPoolInParent, emptyPoolInChild);
    });
    return *currentPool;
}

void runLookup(Pool& pool, const Job& job) {
    const addrinfo hints = makeHints(0);
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(job.name.c_str(), nullptr, &hints, &list);
    std::vector<sockaddr_storage> addresses;
    if (rc == 0) {
        addresses = collect(list);
        freeaddrinfo(list);
    }
    // This helper counts as spare before its slot is given back, so the
    // helpers never outnumber the lookups in flight.
    {
        std::lock_guard lock(pool.mutex);
        ++pool.spare;
    }
    // The slot is free before the waiting caller hears of the answer, so a
    // caller that probes again at once never finds its own lookup counted.
    releaseLookup();
    {
        std::lock_guard lock(job.lookup->mutex);
        job.lookup->rc = rc;
        job.lookup->addresses = std::move(addresses);
        job.lookup->done = true;
    }
    job.lookup->doneCv.notify_all();
}

// Keeps the calling helper to processor `cpu` (if known and not already so).
// A lookup from the hosts file takes microseconds; run on the caller's
// processor while the caller sleeps, it needs no idle processor woken, which
// on a virtual machine takes longer than the lookup. A name server's answer
// is waited for blocked, so the helper takes no time from that processor then.
void keepTo(int cpu) {
    thread_local int kept = -1;
    if (cpu < 0 || cpu == kept || cpu >= CPU_SETSIZE) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    // Refused (the processor is not allowed to this process), the helper
    // runs wherever the system puts it, as any thread does.
    if (pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0) kept = cpu;
}

// One helper: takes queued jobs until none has come for kIdleEnd.
void serve(Pool& pool) {
    std::unique_lock lock(pool.mutex);
    for (;;) {
        if (!pool.work.wait_for(lock, kIdleEnd, [&] { return !pool.queue.empty(); })) {
            --pool.spare;
            return;
        }
        const Job job = std::move(pool.queue.front());
        pool.queue.pop_front();
        lock.unlock();
        keepTo(job.cpu);
        runLookup(pool, job);
        lock.lock();
    }
}

// Hands `job` to a spare helper, or to a new one if there is none. Throws if
// no thread can be started; the job is then not queued.
void submit(Job job) {
    Pool& p = pool();
    job.cpu = sched_getcpu();  // -1 where the system cannot tell
    std::unique_lock lock(p.mutex);
    p.queue.push_back(std::move(job));
    if (p.spare > 0) {
        --p.spare;
        lock.unlock();
        p.work.notify_one();
        return;
    }
    try {
        // The helper keeps the pool it was started for (a child of fork()
        // gets a new one).
        std::thread([&p] { serve(p); }).detach();
    } catch (...) {
        p.queue.pop_back();
        throw;
    }
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
        submit(Job{lookup, name});
    } catch (...) {
        // No thread to bound the lookup with (or no memory to start one); a
        // blocking lookup could exceed the time bound, so the name counts as
        // not resolved in time. The helper never ran, so its slot is ours.
        releaseLookup();
        result.status = Status::TimedOut;
        return result;
    }

    // The caller sleeps at once: its helper runs on this processor (see
    // submit()), so the wait is a switch between two threads on one
    // processor, not a wake-up of an idle one.
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
