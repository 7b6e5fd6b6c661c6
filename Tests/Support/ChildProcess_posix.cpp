// Child processes on Linux: fork and exec of /proc/self/exe. The child dies
// with its parent (PR_SET_PDEATHSIG), so a test that fails half-way leaves no
// process behind; "parent" is the spawning thread, so spawn from a thread
// that outlives the child (the test's own).
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "Tests/Support/ChildProcess.h"

namespace vtest {
namespace {

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

Child SpawnChild(const std::string& role, const std::vector<std::string>& args) {
    std::vector<std::string> words = {"vtest-child", "--vtest-child", role};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(126);
        execv("/proc/self/exe", argv.data());
        _exit(126);
    }
    Child child;
    if (pid > 0) {
        child.handle = pid;
        child.id = static_cast<uint32_t>(pid);
    }
    return child;
}

bool WaitChild(Child& child, uint32_t timeoutMs, int* exitCode) {
    if (!child.valid()) return false;
    pid_t pid = static_cast<pid_t>(child.handle);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // A pidfd becomes readable when the child ends; without one, look every
    // millisecond.
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        int status = 0;
        pid_t rc = waitpid(pid, &status, WNOHANG);
        if (rc == pid) {
            if (pidfd >= 0) close(pidfd);
            if (exitCode) *exitCode = ExitCodeOf(status);
            child = Child();
            return true;
        }
        if (rc < 0 && errno != EINTR) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (pidfd >= 0) {
            struct pollfd pfd = {pidfd, POLLIN, 0};
            poll(&pfd, 1, static_cast<int>(left.count()));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (pidfd >= 0) close(pidfd);
    return false;
}

void KillChild(Child& child) {
    if (!child.valid()) return;
    pid_t pid = static_cast<pid_t>(child.handle);
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    child = Child();
}

}  // namespace vtest
