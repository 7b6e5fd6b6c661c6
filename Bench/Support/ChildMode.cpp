#include "Bench/Support/ChildMode.h"
#include "Bench/Support/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace bench {

int RunChild(int argc, char** argv) {
    if (argc >= 1 && std::strcmp(argv[0], "contention") == 0) return ContentionChild(argc - 1, argv + 1);
    return 2;
}

bool StartChild(const std::vector<std::string>& job, Child* child, std::string* error) {
    std::vector<std::string> args = {"/proc/self/exe", kChildFlag};
    args.insert(args.end(), job.begin(), job.end());
    return SpawnReading(args, &child->pid, &child->out, error);
}

bool FinishChild(Child& child, int limitMs, std::string* line) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    bool ended = false;
    for (;;) {
        const long left = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                deadline - std::chrono::steady_clock::now())
                                                .count());
        struct pollfd p = {child.out, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char buf[512];
        const ssize_t n = read(child.out, buf, sizeof buf);
        if (n <= 0) {
            ended = true;
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    close(child.out);
    child.out = -1;
    int status = 0;
    if (!ended) kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
    child.pid = -1;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t eol = text.rfind('\n');
    *line = eol == std::string::npos ? text : text.substr(eol + 1);
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace bench
