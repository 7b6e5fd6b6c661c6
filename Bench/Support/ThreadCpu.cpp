#include "Bench/Support/ThreadCpu.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace bench {

pid_t CurrentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

std::map<pid_t, ThreadSample> SampleThreads() {
    std::map<pid_t, ThreadSample> out;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return out;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const pid_t tid = static_cast<pid_t>(std::atoi(e->d_name));
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        ThreadSample s;
        if (FILE* f = std::fopen((base + "/schedstat").c_str(), "r")) {
            unsigned long long cpu = 0, wait = 0, runs = 0;
            if (std::fscanf(f, "%llu %llu %llu", &cpu, &wait, &runs) == 3) {
                s.cpuNs = cpu;
                s.runs = runs;
            }
            std::fclose(f);
        } else {
            continue;  // the thread has ended meanwhile
        }
        if (FILE* f = std::fopen((base + "/comm").c_str(), "r")) {
            char name[64] = {};
            if (std::fgets(name, sizeof name, f)) {
                s.name = name;
                while (!s.name.empty() && (s.name.back() == '\n' || s.name.back() == ' ')) s.name.pop_back();
            }
            std::fclose(f);
        }
        out[tid] = s;
    }
    closedir(dir);
    return out;
}

}  // namespace bench
