// The simulated device as a child process (vantro-sim), so that its threads
// never count as the library's and several benchmark processes can share it.
// The simulator's path is compiled in and can be overridden with the
// environment variable VANTRO_SIM.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

class SimProcess {
public:
    struct Options {
        bool usb = false;          // the simulated USB bus, else a pty
        bool pace = false;         // 38400 baud 8N1 on the pty
        std::string rootDir;       // the device's file system ("" = a temporary one)
        std::string portsDir;      // with portName: DIR/portName -> the pty
        std::string portName;
        std::vector<std::string> extra;  // more options, e.g. "--fault", "late=600@on=reply"
    };

    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the simulator and waits (up to 10 s) until it says "ready".
    bool Start(const Options& options, std::string* error);
    // SIGTERM to the child, then SIGKILL if it has not ended within 5 s.
    void Stop();

    pid_t Pid() const { return m_pid; }
    const std::string& PtyPath() const { return m_ptyPath; }
    uint16_t UsbPort() const { return m_usbPort; }
    const std::string& RootDir() const { return m_rootDir; }

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    std::string m_ptyPath;
    uint16_t m_usbPort = 0;
    std::string m_rootDir;
};

std::string SimulatorPath();

// Starts args[0] with the arguments after it, its standard output on a pipe
// whose reading end comes back in *out.
bool SpawnReading(std::vector<std::string> args, pid_t* pid, int* out, std::string* error);

}  // namespace bench
