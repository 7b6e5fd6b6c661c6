#include "Tests/Support/LinkDouble.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "Lib/Omnel/Omnel.h"
#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/Message/Message.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsThread.h"

namespace vtest {

namespace {

constexpr uint8_t kSingle = 0x00, kFirst = 0x01, kLast = 0x02, kReply = 0x03, kPoll = 0x7F;
constexpr uint32_t kPayloadMax = 511;
constexpr uint32_t kSendFailed = 0x900d000du;
const char kSource[] = "Tests/Support/LinkDouble";
// Longer than every time-out of an exchange: the double's Send never waits
// for ever, even when the message layer is broken.
constexpr uint32_t kSendWaitMs = 120000;

std::atomic<LinkBench*> g_bench{nullptr};

bool FrameOk(const Bytes& f) {
    if (f.size() < 6 || f[0] != 0x02 || f.back() != 0x03) return false;
    if (static_cast<size_t>(f[2] | f[3] << 8) + 6 != f.size()) return false;
    uint8_t sum = 0;
    for (size_t i = 1; i + 2 < f.size(); ++i) sum = static_cast<uint8_t>(sum + f[i]);
    return sum == f[f.size() - 2];
}

// Bytes of the CommandCode at the start of a message (the device's decoder).
size_t CodeLength(const Bytes& m) {
    if (m.empty()) return 0;
    if ((m[0] & 0x7F) != 0x7F) return 1;
    if (m.size() < 2 || m[1] != 0xFF) return std::min<size_t>(2, m.size());
    if (m.size() < 3 || m[2] != 0xFF) return std::min<size_t>(3, m.size());
    return std::min<size_t>(4, m.size());
}

}  // namespace

// ---- frames ---------------------------------------------------------------

Bytes MakeAck(uint8_t state) { return MakeFrame(kReply, {0x06, state}); }

Bytes MakeNak(uint32_t code) {
    return MakeFrame(kReply, {0x15, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
                              static_cast<uint8_t>(code >> 16), static_cast<uint8_t>(code >> 24)});
}

Bytes MakePollAnswer(uint8_t state) { return MakeFrame(kPoll, {0x06, state}); }

std::vector<Bytes> CutMessage(const Bytes& message) {
    std::vector<Bytes> frames;
    if (message.size() <= kPayloadMax) {
        frames.push_back(MakeFrame(kSingle, message));
        return frames;
    }
    size_t offset = 0;
    uint32_t k = 1;
    while (offset < message.size()) {
        size_t left = message.size() - offset;
        uint8_t type;
        size_t n;
        if (k == 1) {
            type = kFirst;
            n = kPayloadMax;
        } else if (left <= kPayloadMax) {
            type = kLast;
            n = left;
        } else {
            type = static_cast<uint8_t>(0x80 + (k - 2) % 128);
            n = kPayloadMax;
        }
        frames.push_back(MakeFrame(type, Bytes(message.begin() + offset, message.begin() + offset + n)));
        offset += n;
        ++k;
    }
    return frames;
}

std::string Hex(const Bytes& bytes) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        s += b;
    }
    return s;
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    unsigned value = 0;
    int digits = 0;
    for (char c : hex) {
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0) continue;
        value = value * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            out.push_back(static_cast<uint8_t>(value));
            value = 0;
            digits = 0;
        }
    }
    return out;
}

ScriptedDevice::Handler AcceptWith(const Bytes& fields) {
    return [fields](const Bytes& request) {
        Bytes response(request.begin(), request.begin() + CodeLength(request));
        response.push_back(0x06);
        response.insert(response.end(), fields.begin(), fields.end());
        return response;
    };
}

// ---- the scripted device ----------------------------------------------------

ScriptedDevice::ScriptedDevice() : m_handler(AcceptWith({})) {}

void ScriptedDevice::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_handler = std::move(handler);
}

void ScriptedDevice::SetMutator(Mutator mutator) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_mutator = std::move(mutator);
}

Bytes ScriptedDevice::NextResponseFrame() {
    Bytes frame = m_txFrames[m_txIndex];
    if (m_mutator) m_mutator(m_txIndex, m_txResends, frame);
    return frame;
}

Bytes ScriptedDevice::StartResponse(const Bytes& response) {
    m_txFrames = response.empty() ? std::vector<Bytes>{} : CutMessage(response);
    m_txIndex = 0;
    m_txResends = 0;
    if (m_txFrames.empty()) return {};
    return NextResponseFrame();
}

std::vector<Bytes> ScriptedDevice::OnPcFrame(const Bytes& frame) {
    std::vector<Bytes> out;
    if (!FrameOk(frame)) return out;  // noise: the PC's time-outs handle it
    const uint8_t type = frame[1];
    const Bytes payload(frame.begin() + 4, frame.end() - 2);

    std::unique_lock<std::mutex> lock(m_lock);
    if (type == kPoll) {
        ++m_polls;
        // A device that has started its response no longer answers Polls.
        if (m_txIndex >= m_txFrames.size()) out.push_back(MakePollAnswer(m_pollState));
        return out;
    }

    if (type == kReply) {
        // The PC's Reply to a response frame.
        m_pcReplies.push_back(frame);
        if (m_txIndex >= m_txFrames.size()) return out;
        if (!payload.empty() && payload[0] == 0x06) {
            ++m_txIndex;
            m_txResends = 0;
            if (m_txIndex < m_txFrames.size()) out.push_back(NextResponseFrame());
        } else {
            ++m_txResends;
            out.push_back(NextResponseFrame());
        }
        return out;
    }

    // A request frame.
    if (m_nakCode != 0) {
        out.push_back(MakeNak(m_nakCode));
        return out;
    }
    out.push_back(MakeAck(3));
    if (type == kSingle || type == kFirst) {
        m_request.clear();
        m_requestOpen = true;
    }
    m_request.insert(m_request.end(), payload.begin(), payload.end());
    if (type != kSingle && type != kLast) return out;

    Bytes request = m_request;
    m_requestOpen = false;
    m_requests.push_back(request);
    Handler handler = m_handler;
    lock.unlock();
    Bytes response = handler ? handler(request) : Bytes{};
    lock.lock();
    if (m_hold) {
        m_held = response;
        m_hasHeld = !response.empty();
        return out;
    }
    Bytes first = StartResponse(response);
    if (!first.empty()) out.push_back(first);
    return out;
}

Bytes ScriptedDevice::ReleaseResponse() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_hasHeld) return {};
    m_hasHeld = false;
    return StartResponse(m_held);
}

std::vector<Bytes> ScriptedDevice::Requests() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

std::vector<Bytes> ScriptedDevice::PcReplies() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pcReplies;
}

bool ScriptedDevice::ResponseDone() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return !m_txFrames.empty() && m_txIndex >= m_txFrames.size();
}

// ---- the endpoint -------------------------------------------------------------

LinkEndpoint::LinkEndpoint(uint32_t commDevice, std::string portName)
    : m_commDevice(commDevice), m_portName(std::move(portName)) {}

LinkEndpoint::~LinkEndpoint() = default;

void LinkEndpoint::HoldWrites(bool hold) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_holdWrites = hold;
    m_cv.notify_all();
}

bool LinkEndpoint::WaitWriteGate(const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lock(m_lock);
    while (m_holdWrites && !stop) {
        m_writeHeld = true;
        m_cv.notify_all();
        m_cv.wait_for(lock, std::chrono::milliseconds(20));
    }
    m_writeHeld = false;
    return !stop;
}

bool LinkEndpoint::WaitWriteHeld(uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_writeHeld; });
}

void LinkEndpoint::Attach(LinkDouble* link) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_link = link;
}

void LinkEndpoint::Detach(LinkDouble* link) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_link == link) m_link = nullptr;
}

bool LinkEndpoint::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_link != nullptr;
}

bool LinkEndpoint::Feed(const Bytes& frame) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_link) return false;
    m_link->Deliver(frame);
    return true;
}

bool LinkEndpoint::ReleaseResponse() {
    std::lock_guard<std::mutex> output(m_outputLock);
    Bytes first = m_device.ReleaseResponse();
    return !first.empty() && Feed(first);
}

void LinkEndpoint::OnWritten(const Bytes& frame, LinkDouble& link) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_written.push_back(frame);
        m_cv.notify_all();
    }
    if (m_silent) return;
    // The device's answers leave in the order it makes them: a response the
    // test releases meanwhile goes after them.
    std::lock_guard<std::mutex> output(m_outputLock);
    for (const Bytes& answer : m_device.OnPcFrame(frame)) link.Deliver(answer);
}

std::vector<Bytes> LinkEndpoint::Written() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_written;
}

void LinkEndpoint::ClearWritten() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_written.clear();
}

bool LinkEndpoint::WaitWritten(size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_written.size() >= count; });
}

// ---- the link -----------------------------------------------------------------

LinkDouble::LinkDouble(LinkEndpoint& endpoint, CMessage* message, const char* portName)
    : CCommIf(message, portName), m_endpoint(endpoint) {
    m_nCommDevice = endpoint.CommDevice();
    Open(portName);
}

LinkDouble::~LinkDouble() { Close(0); }

uint32_t LinkDouble::Open(const char*) {
    m_stopping = false;
    vos::EventReset(m_hEventSendStop);
    m_hSendThread = vos::ThreadCreate(&CCommIf::TransmitThreadStart, this);
    if (!m_hSendThread || vos::EventWait(m_hEventSendStarted, 5000) != vos::kWaitObject0) return 0xa00d0010u;
    {
        std::lock_guard<std::mutex> lock(m_inLock);
        m_inStop = false;
    }
    vos::EventReset(m_hEventRecvStop);
    m_hRecvThread = vos::ThreadCreate(&CCommIf::ReceiveThreadStart, this);
    if (!m_hRecvThread || vos::EventWait(m_hEventRecvStarted, 5000) != vos::kWaitObject0) return 0xa00d0010u;
    m_open = true;
    m_endpoint.Attach(this);
    ++m_endpoint.m_opened;
    if (m_pMessage) m_pMessage->OnLinkOpened();
    return 0;
}

void LinkDouble::Close(uint32_t) {
    m_endpoint.Detach(this);
    m_stopping = true;
    vos::EventSet(m_hEventRecvStop);
    vos::EventSet(m_hEventSendStop);
    {
        std::lock_guard<std::mutex> lock(m_inLock);
        m_inStop = true;
        m_inCv.notify_all();
    }
    for (vos::OsHandle* thread : {&m_hRecvThread, &m_hSendThread}) {
        if (!*thread) continue;
        if (vos::ThreadWait(*thread, 5000) != vos::kWaitObject0) vos::ThreadTerminate(*thread, 0xFFFFFFFFu);
        vos::ThreadClose(*thread);
        *thread = nullptr;
    }
    if (m_open) {
        m_open = false;
        ++m_endpoint.m_closed;
        // As the USB link does; the serial link closes silently.
        if (m_nCommDevice == kCommUsb && m_pMessage) m_pMessage->OnLinkClosed();
    }
}

uint32_t LinkDouble::Send() {
    if (m_endpoint.m_sendFails || !m_open || !m_pMessage) {
        ErrReportf(kSendFailed, "[PC]%s(%d):", kSource, 1);
        return kSendFailed;
    }
    vos::EventSet(m_hEventSendRequest);
    if (vos::EventWait(m_pMessage->GetAcceptEvent(), kSendWaitMs) != vos::kWaitObject0) {
        ErrReportf(kSendFailed, "[PC]%s(%d):", kSource, 2);
        return kSendFailed;
    }
    return 0;
}

void LinkDouble::Deliver(const Bytes& frame) {
    std::lock_guard<std::mutex> lock(m_inLock);
    m_in.push_back(frame);
    m_inCv.notify_all();
}

uint32_t LinkDouble::ReceiveThread() {
    vos::EventReset(m_hEventRecvStopped);
    vos::EventSet(m_hEventRecvStarted);
    for (;;) {
        Bytes frame;
        {
            std::unique_lock<std::mutex> lock(m_inLock);
            m_inCv.wait(lock, [this] { return m_inStop || !m_in.empty(); });
            if (m_inStop) break;
            frame = std::move(m_in.front());
            m_in.pop_front();
        }
        m_pMessage->OnFrameReceived(frame.data(), static_cast<uint32_t>(frame.size()));
    }
    vos::EventReset(m_hEventRecvStarted);
    vos::EventSet(m_hEventRecvStopped);
    return 0;
}

uint32_t LinkDouble::TransmitThread() {
    vos::EventReset(m_hEventSendStopped);
    vos::EventSet(m_hEventSendStarted);
    const vos::OsHandle events[2] = {m_hEventSendStop, m_hEventSendRequest};
    for (;;) {
        uint32_t wait = vos::EventWaitAny(events, 2, 1000);
        if (wait == vos::kWaitObject0) break;
        TxFrame* slot = nullptr;
        if (wait == vos::kWaitObject0 + 1) {
            vos::EventReset(m_hEventSendRequest);
            if (m_pMessage->GetPendingFrame(&slot) != 0) continue;
            if (!m_endpoint.WaitWriteGate(m_stopping)) break;
            Bytes frame;
            uint32_t ends;
            {
                vos::OsLock lock(slot->Lock);
                frame.assign(slot->Frame, slot->Frame + slot->Length);
                ends = slot->EndsExchange;
                slot->Length = 0;
            }
            if (frame.empty()) continue;
            m_endpoint.OnWritten(frame, *this);
            if (ends) m_pMessage->OnFrameSent();
        } else if (wait == vos::kWaitTimeout) {
            if (m_pMessage->GetPendingFrame(&slot) == 0)
                vos::EventSet(m_hEventSendRequest);
            else
                m_pMessage->CheckTimeouts();
        } else {
            break;
        }
    }
    vos::EventReset(m_hEventSendStop);
    vos::EventReset(m_hEventSendStarted);
    vos::EventSet(m_hEventSendStopped);
    return 0;
}

// ---- the ports directory -----------------------------------------------------------

namespace {
[[maybe_unused]] void SetPortsDirVariable(const std::string* value) {
#if !defined(_WIN32)
    if (value)
        setenv("VANTRO_PORTS_DIR", value->c_str(), 1);
    else
        unsetenv("VANTRO_PORTS_DIR");
#else
    (void)value;
#endif
}
}  // namespace

ScopedPortsDir::ScopedPortsDir(std::initializer_list<const char*> names) {
#if !defined(_WIN32)
    namespace fs = std::filesystem;
    static std::atomic<int> counter{0};
    fs::path dir = fs::temp_directory_path() /
                   ("vantro-ports-" + std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    for (const char* name : names) fs::create_symlink("/dev/null", dir / name);
    m_dir = dir.string();
    const char* old = std::getenv("VANTRO_PORTS_DIR");
    m_hadOld = old != nullptr;
    if (old) m_old = old;
    SetPortsDirVariable(&m_dir);
#else
    (void)names;
#endif
}

ScopedPortsDir::~ScopedPortsDir() {
#if !defined(_WIN32)
    SetPortsDirVariable(m_hadOld ? &m_old : nullptr);
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
#endif
}

// ---- the bench ------------------------------------------------------------------

LinkBench::LinkBench() : m_usb(new LinkEndpoint(kCommUsb, "")) {
    g_bench = this;
    SetLinkFactory(&LinkBench::Factory);
}

LinkBench::~LinkBench() {
    ReleaseDeviceLink();
    SetLinkFactory(nullptr);
    g_bench = nullptr;
}

LinkEndpoint& LinkBench::Port(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto& slot = m_ports[name];
    if (!slot) slot.reset(new LinkEndpoint(kCommSerial, name));
    return *slot;
}

std::vector<std::string> LinkBench::Constructed() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_constructed;
}

std::vector<CMessage*> LinkBench::Messages() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_messages;
}

CCommIf* LinkBench::Factory(uint32_t commDevice, CMessage* message, const char* portName) {
    LinkBench* bench = g_bench;
    return bench ? bench->Make(commDevice, message, portName) : nullptr;
}

CCommIf* LinkBench::Make(uint32_t commDevice, CMessage* message, const char* portName) {
    LinkEndpoint* endpoint;
    if (commDevice == kCommUsb) {
        endpoint = m_usb.get();
    } else {
        endpoint = &Port(portName ? portName : "");
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_constructed.push_back(commDevice == kCommUsb ? "USB" : (portName ? portName : ""));
        m_messages.push_back(message);
    }
    if (endpoint->m_noObject) return nullptr;
    return new LinkDouble(*endpoint, message, portName);
}

}  // namespace vtest
