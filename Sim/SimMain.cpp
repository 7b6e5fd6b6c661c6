// vantro-sim: the simulated device as a program of its own. It serves one
// device on a pty (the PC opens it as a COM port) or on the simulated USB bus
// until it is interrupted.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/PtyTransport.h"
#include "Sim/Transport/UsbBusServer.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

void PrintHelp() {
    std::printf(
        "Usage: vantro-sim [options]\n"
        "The simulated Vantro device: answers every command of the library with real\n"
        "behaviour, over a pty (a COM port for the library) or the simulated USB bus.\n"
        "\n"
        "Transport (one of them; --pty when none is given):\n"
        "  --pty                 serve on a new pseudo-terminal; its path is printed\n"
        "  --ports-dir DIR       with --port: create the link DIR/COMn -> the pty, the\n"
        "                        library's COM port list on Linux (VANTRO_PORTS_DIR), or\n"
        "                        wine's dosdevices folder (name the port in lower case)\n"
        "  --port COMn           the port name of that link\n"
        "  --pace                pace the pty like a 38400 baud 8N1 line (3840 bytes/s\n"
        "                        in each direction)\n"
        "  --usb[=PORT]          serve on the simulated USB bus at 127.0.0.1:PORT (a free\n"
        "                        port when none is given); the port is printed\n"
        "\n"
        "Device:\n"
        "  --root DIR            the device's file system (default: a new temporary folder,\n"
        "                        removed at the end)\n"
        "  --registry FILE       keep the device's registry in FILE (default: in memory)\n"
        "  --hostile             answer with counts, lengths and texts beyond every\n"
        "                        capacity (for testing the PC side's bounds)\n"
        "  --fault RULE          inject a fault (repeatable; see below)\n"
        "  --fault-file FILE     read fault rules from FILE, one per line\n"
        "  --trace               print every frame: \"PC>\" or \"DEV>\" and its bytes in hex\n"
        "  --help                this text\n"
        "\n"
        "Output (stdout, one line each, then the trace if asked for):\n"
        "  pty: PATH             the pty's device path\n"
        "  port: NAME -> PATH    the link made with --ports-dir and --port\n"
        "  usb: PORT             the simulated USB bus's TCP port\n"
        "  root: DIR             the device's file system (\"(temporary)\" after it when\n"
        "                        it is removed at the end)\n"
        "  ready                 the device answers from now on\n"
        "SIGINT or SIGTERM end the simulator cleanly (the port link is removed).\n"
        "\n%s",
        sim::FaultPlan::Syntax());
}

bool TakeValue(int argc, char** argv, int* i, const char* option, std::string* value) {
    const size_t n = std::strlen(option);
    if (std::strncmp(argv[*i], option, n) != 0) return false;
    if (argv[*i][n] == '=') {
        *value = argv[*i] + n + 1;
        return true;
    }
    if (argv[*i][n] != 0) return false;
    if (*i + 1 >= argc) {
        std::fprintf(stderr, "vantro-sim: %s needs a value\n", option);
        std::exit(2);
    }
    *value = argv[++*i];
    return true;
}

std::string MakeTempRoot() {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::filesystem::path dir = base / ("vantro-sim-" + std::to_string(rd() % 1000000));
        if (std::filesystem::create_directory(dir, ec)) return dir.string();
    }
    return std::string();
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimConfig config;
    bool usePty = false, useUsb = false, pace = false, trace = false;
    uint16_t usbPort = 0;
    std::string portsDir, portName;
    std::vector<std::string> faultRules, faultFiles;

    for (int i = 1; i < argc; ++i) {
        std::string value;
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        } else if (arg == "--pty") {
            usePty = true;
        } else if (arg == "--usb") {
            useUsb = true;
        } else if (arg.rfind("--usb=", 0) == 0) {
            useUsb = true;
            const long port = std::strtol(arg.c_str() + 6, nullptr, 10);
            if (port < 0 || port > 65535) {
                std::fprintf(stderr, "vantro-sim: bad USB port %s\n", arg.c_str() + 6);
                return 2;
            }
            usbPort = static_cast<uint16_t>(port);
        } else if (arg == "--pace") {
            pace = true;
        } else if (arg == "--trace") {
            trace = true;
        } else if (arg == "--hostile") {
            config.hostile = true;
        } else if (TakeValue(argc, argv, &i, "--ports-dir", &value)) {
            portsDir = value;
        } else if (TakeValue(argc, argv, &i, "--port", &value)) {
            portName = value;
        } else if (TakeValue(argc, argv, &i, "--root", &value)) {
            config.rootDir = value;
        } else if (TakeValue(argc, argv, &i, "--registry", &value)) {
            config.registryFile = value;
        } else if (TakeValue(argc, argv, &i, "--fault-file", &value)) {
            faultFiles.push_back(value);
        } else if (TakeValue(argc, argv, &i, "--fault", &value)) {
            faultRules.push_back(value);
        } else {
            std::fprintf(stderr, "vantro-sim: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        }
    }
    if (usePty && useUsb) {
        std::fprintf(stderr, "vantro-sim: choose one transport, --pty or --usb\n");
        return 2;
    }
    if (!usePty && !useUsb) usePty = true;
    if (portsDir.empty() != portName.empty()) {
        std::fprintf(stderr, "vantro-sim: --ports-dir and --port go together\n");
        return 2;
    }
    bool temporaryRoot = false;
    if (config.rootDir.empty()) {
        temporaryRoot = true;
        config.rootDir = MakeTempRoot();
        if (config.rootDir.empty()) {
            std::fprintf(stderr, "vantro-sim: cannot create a temporary root folder\n");
            return 1;
        }
    } else {
        std::error_code ec;
        std::filesystem::create_directories(config.rootDir, ec);
    }

    sim::SimDevice device(config);
    for (const std::string& rule : faultRules) {
        std::string error;
        if (!device.Faults().Add(rule, &error)) {
            std::fprintf(stderr, "vantro-sim: %s\n", error.c_str());
            return 2;
        }
    }
    for (const std::string& file : faultFiles) {
        std::string error;
        if (!device.Faults().AddFile(file, &error)) {
            std::fprintf(stderr, "vantro-sim: %s\n", error.c_str());
            return 2;
        }
    }
    if (trace) {
        device.SetTrace([](const char* line) {
            std::printf("%s\n", line);
            std::fflush(stdout);
        });
    }

    std::unique_ptr<sim::PtyTransport> pty;
    std::unique_ptr<sim::UsbBusServer> usb;
    if (usePty) {
        pty.reset(new sim::PtyTransport(device));
        sim::PtyTransport::Options options;
        options.portsDir = portsDir;
        options.portName = portName;
        options.pace = pace;
        options.onReopened = [](const std::string& path) {
            std::printf("pty: %s\n", path.c_str());
            std::fflush(stdout);
        };
        std::string error;
        if (!pty->Start(options, &error)) {
            std::fprintf(stderr, "vantro-sim: %s\n", error.c_str());
            return 1;
        }
        std::printf("pty: %s\n", pty->SlavePath().c_str());
        if (!pty->LinkPath().empty()) std::printf("port: %s -> %s\n", portName.c_str(), pty->SlavePath().c_str());
    } else {
        usb.reset(new sim::UsbBusServer(device, static_cast<uint16_t>(config.vendorId),
                                        static_cast<uint16_t>(config.productId)));
        if (!usb->Start(usbPort)) {
            std::fprintf(stderr, "vantro-sim: cannot serve the USB bus on port %u\n", usbPort);
            return 1;
        }
        std::printf("usb: %u\n", usb->Port());
    }
    std::printf("root: %s%s\n", config.rootDir.c_str(), temporaryRoot ? " (temporary)" : "");
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    device.Start();
    std::printf("ready\n");
    std::fflush(stdout);

    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));

    device.Stop();
    if (pty) pty->Stop();
    if (usb) usb->Stop();
    if (temporaryRoot) {
        std::error_code ec;
        std::filesystem::remove_all(config.rootDir, ec);
    }
    return 0;
}
