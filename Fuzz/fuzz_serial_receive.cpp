// Fuzzes the serial link's receive side: the real CSerialIf receive thread
// cutting the byte stream of a real pty into frames, under the port's read
// time-outs, and handing them to a real message layer in each of its states.
//
// One pty pair serves the whole process: its slave is the port "COM1" of a
// temporary ports directory (VANTRO_PORTS_DIR), the fuzzer writes the input
// into the master, and a drain thread reads whatever the link's transmit
// thread writes (Replies, Polls, request frames) so that it never blocks.
// The fuzzer keeps a descriptor of the slave open, so the line never hangs up
// between two links. Each input gets a new message layer and a new link (the
// opening purges what is left on the line and the port's read-ahead), and the
// library clock runs fast so that the port's read time-outs pass in a few
// milliseconds.
//
// Input: a mode byte, then a sequence of pieces.
//   mode % 6    the message layer's state while the pieces arrive: 0 Idle,
//               1 Sending (a request is out, Replies are expected), 2 Waiting
//               (for a response), 3 Receiving (a First frame came, Middle and
//               Last frames are expected), 4 Received (a Single response came
//               and its ACK was written), 5 Closed
//   mode / 6    the request's size in steps of 50 bytes (1 to 2101 bytes, up
//               to five fragments)
//   a piece     a flags byte, a u16 size (mod 700), then that many bytes;
//               flags bit 0: after the piece, wait until the link has taken
//               every byte and let the port's read time-out pass, so that a
//               frame cut there is dropped; bit 1: the piece goes out in a
//               write of its own (otherwise pieces are joined up to the next
//               pause and written at once)
// At the end of an input the fuzzer waits until the link has taken every
// byte, then closes it (the receive thread ends its current read first).
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Pc/FrameCtrl/SerialIf.h"
#include "Pc/Message/Message.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsSerial.h"
#include "Pc/Os/OsSettings.h"
#include "Tests/Support/Bytes.h"

namespace {

const char kPortName[] = "COM1";
// The library clock's rate: the port's 1000 ms read time-out passes in 10 ms.
constexpr uint32_t kClockRate = 100;
// Clock time after which any read the receive thread began has ended (the
// port's total read time-out, 1000 ms, with a margin for waking up).
constexpr uint32_t kReadOverMs = 1300;
// Pauses honoured per input; later pause flags are ignored, which bounds an
// input's run time.
constexpr int kMaxPauses = 8;
// Real-time bound for the link to take the bytes written: beyond it the
// receive thread has stopped reading, which is a finding.
constexpr auto kConsumeLimit = std::chrono::seconds(10);

using Bytes = std::vector<uint8_t>;

struct Line {
    int master = -1;
    int slave = -1;  // kept open so that the line never hangs up
    std::string dir;
    std::string link;
};

Line g_line;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_serial_receive: %s (errno %d)\n", what, errno);
    std::abort();
}

void RemovePortsDir() {
    if (!g_line.link.empty()) unlink(g_line.link.c_str());
    if (!g_line.dir.empty()) rmdir(g_line.dir.c_str());
}

// Reads and drops what the link writes to the device.
void Drain(int master) {
    uint8_t buffer[4096];
    for (;;) {
        struct pollfd pfd = {master, POLLIN, 0};
        if (poll(&pfd, 1, 1000) <= 0) continue;
        while (read(master, buffer, sizeof buffer) > 0) {
        }
    }
}

bool Setup() {
    vos::SetSettingsPathOverride("/nonexistent/vantro-fuzz.SETTING");  // no report output
    vos::OsSetClockRate(kClockRate);

    g_line.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (g_line.master < 0 || grantpt(g_line.master) != 0 || unlockpt(g_line.master) != 0) Fail("no pty");
    const char* slavePath = ptsname(g_line.master);
    if (!slavePath) Fail("no pty slave name");
    g_line.slave = open(slavePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (g_line.slave < 0) Fail("cannot open the pty slave");
    struct termios tio;
    if (tcgetattr(g_line.slave, &tio) != 0) Fail("tcgetattr");
    cfmakeraw(&tio);  // no echo back into the master before the link opens
    tcsetattr(g_line.slave, TCSANOW, &tio);

    char dir[] = "/tmp/vantro-fuzz-ports-XXXXXX";
    if (!mkdtemp(dir)) Fail("mkdtemp");
    g_line.dir = dir;
    g_line.link = g_line.dir + "/" + kPortName;
    if (symlink(slavePath, g_line.link.c_str()) != 0) Fail("symlink");
    atexit(RemovePortsDir);
    setenv("VANTRO_PORTS_DIR", g_line.dir.c_str(), 1);

    std::thread(Drain, g_line.master).detach();
    return true;
}

class FuzzSerialIf : public CSerialIf {
public:
    FuzzSerialIf(CMessage* message, const char* portName) : CSerialIf(message, portName) {}
    bool PortOpen() const { return vos::IsValidHandle(m_hPort); }
    // Bytes the receive thread has not taken yet: the line's input queue and
    // the port's read-ahead.
    uint32_t Queued() const {
        uint32_t errors = 0, queued = 0;
        if (!vos::SerialClearError(m_hPort, &errors, &queued)) return 0;
        return queued;
    }
};

bool LineHasInput() {
    // poll() on the slave also moves bytes still in the pty's buffer into
    // the line's input queue before it answers, so an empty answer is final.
    struct pollfd pfd = {g_line.slave, POLLIN, 0};
    if (poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN)) return true;
    int n = 0;
    return ioctl(g_line.slave, FIONREAD, &n) == 0 && n > 0;
}

// Until the receive thread has taken every byte written: the line is empty
// and so is the port's read-ahead, twice in a row.
void WaitConsumed(const FuzzSerialIf& link) {
    const auto end = std::chrono::steady_clock::now() + kConsumeLimit;
    int quiet = 0;
    while (quiet < 2) {
        if (std::chrono::steady_clock::now() > end) Fail("the receive thread stopped taking bytes");
        if (!LineHasInput() && link.Queued() == 0) {
            ++quiet;
        } else {
            quiet = 0;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// Lets the library clock run on by ms.
void LetClockPass(uint32_t ms) {
    const uint32_t start = vos::OsGetTickCount();
    while (vos::OsGetTickCount() - start <= ms) std::this_thread::sleep_for(std::chrono::microseconds(500));
}

void WriteLine(const Bytes& bytes) {
    const auto end = std::chrono::steady_clock::now() + kConsumeLimit;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(g_line.master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Fail("write to the pty");
        if (std::chrono::steady_clock::now() > end) Fail("the pty takes no more bytes");
        struct pollfd pfd = {g_line.master, POLLOUT, 0};
        poll(&pfd, 1, 10);
    }
}

// Hands the message layer a frame as the receive thread would (nothing is on
// the line yet, so the thread does not deliver at the same time).
void Deliver(CMessage& message, const Bytes& frame) {
    message.OnFrameReceived(frame.data(), static_cast<uint32_t>(frame.size()));
}

template <class Pred>
bool Eventually(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Brings the message layer into the state the mode names.
void Prepare(CMessage& message, CCommIf& link, uint32_t mode, const Bytes& request) {
    if (mode == 0) return;  // Idle
    if (mode == 5) {
        message.OnLinkClosed();
        return;
    }
    message.SendRequest(request.data(), static_cast<uint32_t>(request.size()), nullptr);
    vos::EventSet(link.GetSendRequestEvent());  // the transmit thread writes the first frame
    if (mode == 1) return;  // Sending
    // Each fragment acknowledged until the request is complete.
    const Bytes ack = vtest::MakeFrame(kFrameReply, {0x06, 0x02});
    for (size_t i = 0; i <= request.size() / kMaxPayload + 1 && message.GetState() == kStateSending; ++i)
        Deliver(message, ack);
    if (mode == 2) return;  // Waiting
    if (mode == 3) {
        Deliver(message, vtest::MakeFrame(kFrameFirst, {0x01, 0x06, 0x00}));  // Receiving
        return;
    }
    Deliver(message, vtest::MakeFrame(kFrameSingle, {0x01, 0x06, 0x01, 0x00, 0x00, 0x00}));
    // The ACK of the Single frame is written, then the response is there.
    Eventually([&] { return message.GetState() == kStateReceived; });
}

struct Piece {
    uint8_t flags;
    Bytes bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = Setup();
    (void)ready;
    if (size < 1) return 0;

    const uint32_t mode = data[0] % 6;
    const Bytes request(1 + (data[0] / 6) * 50, 0x5A);
    std::vector<Piece> pieces;
    size_t pos = 1;
    while (pos + 3 <= size) {
        const uint8_t flags = data[pos];
        size_t n = (data[pos + 1] | (data[pos + 2] << 8)) % 700;
        pos += 3;
        if (n > size - pos) n = size - pos;
        pieces.push_back(Piece{flags, Bytes(data + pos, data + pos + n)});
        pos += n;
    }

    CMessage message;
    FuzzSerialIf link(&message, kPortName);
    if (!link.PortOpen()) Fail("the link did not open the pty");
    message.SetLink(&link);
    Prepare(message, link, mode, request);

    Bytes pending;
    int pauses = 0;
    for (const Piece& p : pieces) {
        if (p.flags & 2) {
            WriteLine(pending);
            pending.clear();
        }
        pending.insert(pending.end(), p.bytes.begin(), p.bytes.end());
        if (p.flags & 2) {
            WriteLine(pending);
            pending.clear();
        }
        if ((p.flags & 1) && pauses < kMaxPauses) {
            ++pauses;
            WriteLine(pending);
            pending.clear();
            WaitConsumed(link);
            LetClockPass(kReadOverMs);
        }
    }
    WriteLine(pending);
    WaitConsumed(link);

    link.Close(0);  // waits for the receive thread to end its read
    message.SetLink(nullptr);
    return 0;
}
