#include "Bench/Support/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace bench {

std::string SimulatorPath() {
    if (const char* env = std::getenv("VANTRO_SIM")) return env;
#ifdef VANTRO_BENCH_SIM_PATH
    return VANTRO_BENCH_SIM_PATH;
#else
    return "vantro-sim";
#endif
}

bool SpawnReading(std::vector<std::string> args, pid_t* pid, int* out, std::string* error) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        dup2(pipeFds[1], 1);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    *pid = child;
    *out = pipeFds[0];
    return true;
}

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Start(const Options& options, std::string* error) {
    Stop();
    std::vector<std::string> args = {SimulatorPath()};
    if (options.usb) {
        args.push_back("--usb");
    } else {
        args.push_back("--pty");
        if (options.pace) args.push_back("--pace");
        if (!options.portsDir.empty()) {
            args.push_back("--ports-dir");
            args.push_back(options.portsDir);
            args.push_back("--port");
            args.push_back(options.portName);
        }
    }
    if (!options.rootDir.empty()) {
        args.push_back("--root");
        args.push_back(options.rootDir);
    }
    args.insert(args.end(), options.extra.begin(), options.extra.end());
    if (!SpawnReading(args, &m_pid, &m_stdout, error)) return false;

    // Reads the simulator's lines until "ready".
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        size_t eol;
        while ((eol = text.find('\n')) != std::string::npos) {
            const std::string line = text.substr(0, eol);
            text.erase(0, eol + 1);
            if (line.rfind("pty: ", 0) == 0) m_ptyPath = line.substr(5);
            else if (line.rfind("usb: ", 0) == 0) m_usbPort = static_cast<uint16_t>(std::atoi(line.c_str() + 5));
            else if (line.rfind("root: ", 0) == 0) m_rootDir = line.substr(6, line.find(" (") - 6);
            else if (line == "ready") return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                               std::chrono::steady_clock::now());
        struct pollfd p = {m_stdout, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[512];
        const ssize_t n = read(m_stdout, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    *error = "the simulator " + args[0] + " did not get ready";
    Stop();
    return false;
}

void SimProcess::Stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_pid = -1;
    }
    if (m_stdout >= 0) close(m_stdout);
    m_stdout = -1;
}

}  // namespace bench
