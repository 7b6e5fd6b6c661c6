// Worker processes: the benchmark starts copies of itself (/proc/self/exe)
// with kChildFlag as the first argument; each runs one job with the library
// of its own process and prints one result line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

constexpr char kChildFlag[] = "--bench-child";

// Runs the job named by argv[0] with its arguments; the process's exit code.
int RunChild(int argc, char** argv);

// A started worker: its pid and the read end of its stdout.
struct Child {
    pid_t pid = -1;
    int out = -1;
};

// Starts this program as a worker with the given job arguments.
bool StartChild(const std::vector<std::string>& job, Child* child, std::string* error);
// Reads the worker's output to its end and waits for it (up to the time
// limit; then it is killed). The output's last line in *line.
bool FinishChild(Child& child, int limitMs, std::string* line);

// The contention job (Contention.cpp).
int ContentionChild(int argc, char** argv);

}  // namespace bench
