// SPDX-License-Identifier: MIT
#include "system_ping.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "base/unique_fd.h"

namespace zorvek::system_ping {
namespace {

using namespace std::chrono_literals;

// ping(8) gets the time left minus this, in whole seconds, to wait for the
// reply, so that it can report a silent host itself before being killed.
constexpr std::chrono::milliseconds kExitAllowance{250};
// Without a process descriptor, how often the child is looked at.
constexpr std::chrono::milliseconds kPollStep{2};

bool isShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM ||
           error == EAGAIN;
}

enum class Route { Usable, Unreachable, NoDescriptor };

// Connecting a UDP socket sends nothing; the kernel only looks up the route,
// as it would for the echo request. No route, a broadcast address or a
// family this kernel does not support make the address unusable from here.
Route routeTo(const sockaddr_storage& target) {
    const base::UniqueFd fd(::socket(target.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (fd.get() < 0) return isShortage(errno) ? Route::NoDescriptor : Route::Unreachable;
    sockaddr_storage to = target;
    socklen_t length = sizeof(sockaddr_in);
    if (to.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(to).sin6_port = htons(9);
        length = sizeof(sockaddr_in6);
    } else {
        reinterpret_cast<sockaddr_in&>(to).sin_port = htons(9);
    }
    return ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), length) == 0
               ? Route::Usable
               : Route::Unreachable;
}

// posix_spawn's settings for the child, released on every way out.
class SpawnSettings {
public:
    SpawnSettings() {
        actionsReady_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        attributesReady_ = ::posix_spawnattr_init(&attributes_) == 0;
        if (!actionsReady_ || !attributesReady_) return;
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        // Every inherited descriptor goes first, so opening /dev/null cannot
        // fail for want of a free one.
        ready_ = ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1) == 0 &&
                 ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY,
                                                    0) == 0 &&
                 ::posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY,
                                                    0) == 0 &&
                 ::posix_spawn_file_actions_adddup2(&actions_, STDOUT_FILENO, STDERR_FILENO) == 0 &&
                 // A GUI thread's blocked or ignored signals are not ping's business.
                 ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
                 ::posix_spawnattr_setsigdefault(&attributes_, &all) == 0 &&
                 // A group of its own (its id is the child's pid), so that
                 // whatever the child starts can be ended with it.
                 ::posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
                 ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK |
                                                              POSIX_SPAWN_SETSIGDEF |
                                                              POSIX_SPAWN_SETPGROUP) == 0;
    }
    ~SpawnSettings() {
        if (actionsReady_) ::posix_spawn_file_actions_destroy(&actions_);
        if (attributesReady_) ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    bool ready() const { return ready_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
    bool actionsReady_ = false;
    bool attributesReady_ = false;
    bool ready_ = false;
};

// Process descriptors (Linux 5.3), called directly: glibc 2.36 declares the
// wrappers without C linkage for C++.
int openPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
bool signalByPidfd(int pidfd, int signal) {
    return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
}

// True when the kernel reaps this process's children itself as they end
// (SIGCHLD ignored, or SA_NOCLDWAIT): then an ended child leaves no zombie
// to hold its pid, and the pid may be given to another process at once.
bool childrenReapedByKernel() {
    struct sigaction current {};
    if (::sigaction(SIGCHLD, nullptr, &current) != 0) return false;
    return current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT) != 0;
}

// Ends the child and its process group at the bound. The child has not been
// reaped here, so its pid, which is also the group's id, is still its own as
// long as the child exists, be it running or a zombie; only where the kernel
// reaps children itself may the child be gone already, and then its pid and
// group id may name another process: the process descriptor tells whether
// the child still exists, and if it does not, no signal goes by number.
void endChildAndGroup(pid_t pid, int pidfd) {
    bool idsAreOurs = true;
    if (childrenReapedByKernel()) {
        // Without a descriptor this is the best left: waitpid() has just
        // found the child still running.
        idsAreOurs = pidfd < 0 || signalByPidfd(pidfd, 0);
    }
    // The group first, while the child holds its id: whatever the child has
    // started goes with it.
    if (idsAreOurs) ::kill(-pid, SIGKILL);
    // The child itself too, in case it has left its group. A descriptor that
    // finds it gone (ESRCH) means it has ended: nothing is sent by number then.
    if (pidfd >= 0) {
        (void)signalByPidfd(pidfd, SIGKILL);
    } else if (idsAreOurs) {
        ::kill(pid, SIGKILL);
    }
}

Outcome outcomeOf(int status) {
    if (WIFSIGNALED(status)) return Outcome::NoReply;
    if (!WIFEXITED(status)) return Outcome::NoReply;
    switch (WEXITSTATUS(status)) {
        case 0: return Outcome::Reply;
        case 1: return Outcome::NoReply;
        default: return Outcome::NoSocket;
    }
}

// Waits for our child until `deadline`, then kills it. Either way whatever
// it left running in its process group is killed and the child is reaped.
// Only this pid is ever waited for.
Outcome awaitChild(pid_t pid, Clock::time_point deadline) {
    // A process descriptor lets poll() wake at the child's exit; without one
    // (old kernel, no descriptor left) the child is looked at every few ms.
    const base::UniqueFd pidfd(openPidfd(pid));
    int status = 0;
    for (;;) {
        // Looked at without reaping it, so that an ended child, a zombie now,
        // still holds its group's id while anything it left there is killed.
        siginfo_t info{};
        const int seen =
            ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (seen == 0 && info.si_pid == pid) {
            ::kill(-pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0) {
                if (errno != EINTR) return Outcome::NoReply;
            }
            return outcomeOf(status);
        }
        // Reaped elsewhere, or by the kernel where this process ignores SIGCHLD.
        if (seen < 0 && errno != EINTR) return Outcome::NoReply;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) break;
        if (pidfd.get() >= 0) {
            pollfd pfd{pidfd.get(), POLLIN, 0};
            (void)::poll(&pfd, 1, zorvek::echo::pollTimeout(left));
        } else {
            std::this_thread::sleep_for(std::min(left, kPollStep));
        }
    }
    // Overran: end it and anything it started, then reap it.
    endChildAndGroup(pid, pidfd.get());
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return Outcome::NoReply;
}

Outcome runPing(const std::string& program, const sockaddr_storage& target,
                Clock::time_point deadline) {
    char address[NI_MAXHOST];
    const socklen_t length =
        target.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&target), length, address, sizeof(address),
                      nullptr, 0, NI_NUMERICHOST) != 0) {
        return Outcome::NoReply;
    }
    const auto left = deadline - Clock::now();
    if (left <= 0s) return Outcome::NoReply;
    const auto waitSeconds = std::max<long long>(
        1, std::chrono::floor<std::chrono::seconds>(left - kExitAllowance).count());
    std::string wait = std::to_string(waitSeconds);
    std::string path = program;
    std::string numeric = "-n", count = "-c", one = "1", timeout = "-W";
    std::string family = target.ss_family == AF_INET6 ? "-6" : "-4";
    char* argv[] = {path.data(), numeric.data(), count.data(), one.data(), timeout.data(),
                    wait.data(), family.data(),  address,      nullptr};
    // A fixed environment: nothing of the caller's (LD_PRELOAD, locale,
    // proxies) reaches the privileged program.
    std::string locale = "LC_ALL=C", searchPath = "PATH=/usr/bin:/bin";
    char* envp[] = {locale.data(), searchPath.data(), nullptr};

    const SpawnSettings settings;
    if (!settings.ready()) return Outcome::NoReply;
    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, path.c_str(), settings.actions(), settings.attributes(), argv, envp);
    if (error != 0) return isShortage(error) ? Outcome::NoReply : Outcome::NoSocket;
    return awaitChild(pid, deadline);
}

}  // namespace

std::string find(std::span<const char* const> locations) {
    for (const char* location : locations) {
        struct stat st;
        if (::stat(location, &st) == 0 && S_ISREG(st.st_mode) &&
            ::faccessat(AT_FDCWD, location, X_OK, AT_EACCESS) == 0) {
            return location;
        }
    }
    return {};
}

Outcome probe(const std::string& program, const std::vector<sockaddr_storage>& candidates,
              Clock::time_point deadline) {
    for (const sockaddr_storage& target : candidates) {
        switch (routeTo(target)) {
            case Route::Usable: return runPing(program, target, deadline);
            case Route::NoDescriptor: return Outcome::NoReply;
            case Route::Unreachable: break;  // e.g. no IPv4 route: try the other family
        }
    }
    return Outcome::NoReply;
}

}  // namespace zorvek::system_ping
