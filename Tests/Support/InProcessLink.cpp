#include "Tests/Support/InProcessLink.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "Pc/Message/Message.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsThread.h"

namespace vtest {

namespace {

constexpr uint32_t kThreadWaitMs = 5000;
constexpr uint32_t kIdleCheckMs = 1000;
constexpr uint32_t kReadIntervalMs = 100;
constexpr uint32_t kReadTotalMs = 1000;
constexpr uint32_t kHeaderSize = 4;

// The device the link factory connects to.
std::atomic<sim::SimDevice*> g_device{nullptr};

CCommIf* MakeInProcessLink(uint32_t commDevice, CMessage* message, const char*) {
    return new CInProcessLink(message, g_device.load(), commDevice);
}

}  // namespace

CInProcessLink::CInProcessLink(CMessage* message, sim::SimDevice* device, uint32_t commDevice)
    : CCommIf(message, nullptr), m_pDevice(device), m_hInput(vos::EventCreate(true, false)), m_bOpen(false) {
    m_nCommDevice = commDevice;
    Open(nullptr);
}

CInProcessLink::~CInProcessLink() {
    Close(0);
    vos::EventClose(m_hInput);
}

void CInProcessLink::OnDeviceBytes(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> guard(m_inLock);
    m_in.insert(m_in.end(), data, data + size);
    vos::EventSet(m_hInput);
}

size_t CInProcessLink::Queued() {
    std::lock_guard<std::mutex> guard(m_inLock);
    return m_in.size();
}

uint32_t CInProcessLink::Open(const char*) {
    if (m_bOpen) return 0;
    if (m_pDevice) m_pDevice->SetSink([this](const uint8_t* data, size_t size) { OnDeviceBytes(data, size); });
    vos::EventReset(m_hEventSendStop);
    m_hSendThread = vos::ThreadCreate(&CCommIf::TransmitThreadStart, this);
    vos::EventReset(m_hEventRecvStop);
    m_hRecvThread = vos::ThreadCreate(&CCommIf::ReceiveThreadStart, this);
    if (!m_hSendThread || !m_hRecvThread ||
        vos::EventWait(m_hEventSendStarted, kThreadWaitMs) != vos::kWaitObject0 ||
        vos::EventWait(m_hEventRecvStarted, kThreadWaitMs) != vos::kWaitObject0)
        return 0xa00d0010u;
    m_bOpen = true;
    m_pMessage->OnLinkOpened();
    return 0;
}

void CInProcessLink::Close(uint32_t) {
    if (m_pDevice) m_pDevice->SetSink(nullptr);
    vos::EventSet(m_hEventRecvStop);
    vos::EventSet(m_hEventSendStop);
    vos::OsHandle* threads[] = {&m_hRecvThread, &m_hSendThread};
    for (vos::OsHandle* thread : threads) {
        if (!*thread) continue;
        if (vos::ThreadWait(*thread, kThreadWaitMs) != vos::kWaitObject0) vos::ThreadTerminate(*thread, 0xFFFFFFFFu);
        vos::ThreadClose(*thread);
        *thread = nullptr;
    }
    m_bOpen = false;
    std::lock_guard<std::mutex> guard(m_inLock);
    m_in.clear();
    vos::EventReset(m_hInput);
}

uint32_t CInProcessLink::Send() {
    vos::EventSet(m_hEventSendRequest);
    return vos::EventWait(m_pMessage->GetAcceptEvent(), vos::kOsInfinite) == vos::kWaitObject0 ? 0 : 0x900d000du;
}

uint32_t CInProcessLink::Read(uint8_t* out, uint32_t n) {
    const uint32_t start = vos::OsGetTickCount();
    uint32_t lastByte = start;
    uint32_t got = 0;
    const vos::OsHandle events[2] = {m_hEventRecvStop, m_hInput};
    while (got < n) {
        {
            std::lock_guard<std::mutex> guard(m_inLock);
            while (got < n && !m_in.empty()) {
                out[got++] = m_in.front();
                m_in.pop_front();
                lastByte = vos::OsGetTickCount();
            }
            if (m_in.empty()) vos::EventReset(m_hInput);
        }
        if (got == n) break;
        const uint32_t now = vos::OsGetTickCount();
        const uint32_t total = now - start;
        const uint32_t gap = now - lastByte;
        if (total >= kReadTotalMs || (got > 0 && gap >= kReadIntervalMs)) break;
        uint32_t wait = kReadTotalMs - total;
        if (got > 0 && kReadIntervalMs - gap < wait) wait = kReadIntervalMs - gap;
        if (vos::EventWaitAny(events, 2, wait) == vos::kWaitObject0) break;  // told to stop
    }
    return got;
}

uint32_t CInProcessLink::ReceiveThread() {
    uint8_t buffer[kMaxFrame];
    vos::EventReset(m_hEventRecvStopped);
    vos::EventSet(m_hEventRecvStarted);
    const vos::OsHandle events[2] = {m_hEventRecvStop, m_hInput};
    while (vos::EventWait(m_hEventRecvStop, 0) == vos::kWaitTimeout) {
        if (Queued() == 0) {
            vos::EventWaitAny(events, 2, kIdleCheckMs);
            continue;
        }
        if (Read(buffer, kHeaderSize) < kHeaderSize || buffer[0] != kFrameStart) continue;
        const uint32_t total = buffer[2] + 256u * buffer[3] + 6;
        if (total > kMaxFrame) continue;
        if (Read(buffer + kHeaderSize, total - kHeaderSize) + kHeaderSize != total) continue;
        m_pMessage->OnFrameReceived(buffer, total);
    }
    vos::EventReset(m_hEventRecvStarted);
    vos::EventSet(m_hEventRecvStopped);
    return 0;
}

uint32_t CInProcessLink::TransmitThread() {
    vos::EventReset(m_hEventSendStopped);
    vos::EventSet(m_hEventSendStarted);
    const vos::OsHandle events[2] = {m_hEventSendStop, m_hEventSendRequest};
    for (;;) {
        const uint32_t r = vos::EventWaitAny(events, 2, kIdleCheckMs);
        if (r == vos::kWaitObject0) break;
        TxFrame* frame = nullptr;
        if (r == vos::kWaitObject0 + 1) {
            vos::EventReset(m_hEventSendRequest);
            if (m_pMessage->GetPendingFrame(&frame) != 0 || !frame) continue;
            frame->Lock.Enter();
            m_csPort.Enter();
            if (m_pDevice) m_pDevice->OnBytesFromPc(frame->Frame, frame->Length);
            m_csPort.Leave();
            const uint32_t endsExchange = frame->EndsExchange;
            frame->Length = 0;
            frame->Lock.Leave();
            if (endsExchange) m_pMessage->OnFrameSent();
        } else if (r == vos::kWaitTimeout) {
            if (m_pMessage->GetPendingFrame(&frame) == 0 && frame) vos::EventSet(m_hEventSendRequest);
            else m_pMessage->CheckTimeouts();
        } else {
            vos::OsSleep(kIdleCheckMs);
        }
    }
    vos::EventReset(m_hEventSendStop);
    vos::EventReset(m_hEventSendStarted);
    vos::EventSet(m_hEventSendStopped);
    return 0;
}

std::string MakeTempDir(const char* prefix) {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) return std::string();
    std::random_device rd;
    for (int attempt = 0; attempt < 32; ++attempt) {
        const std::filesystem::path dir = base / (std::string(prefix) + std::to_string(rd()));
        if (std::filesystem::create_directory(dir, ec)) return dir.string();
    }
    return std::string();
}

void RemoveTree(const std::string& path) {
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) setenv(name, value, 1);
    else unsetenv(name);
#endif
}

InProcessSim::InProcessSim(sim::SimConfig config) {
    ReleaseDeviceLink();
    if (config.rootDir.empty()) {
        config.rootDir = MakeTempDir("vantro-root-");
        m_ownRoot = true;
    }
    m_rootDir = config.rootDir;
    m_portsDir = MakeTempDir("vantro-noports-");
    if (const char* old = std::getenv("VANTRO_PORTS_DIR")) {
        m_hadPortsDir = true;
        m_oldPortsDir = old;
    }
    SetEnv("VANTRO_PORTS_DIR", m_portsDir.c_str());

    m_device.reset(new sim::SimDevice(config));
    const char* trace = std::getenv("VANTRO_SIM_TRACE");
    if (trace && *trace && *trace != '0') {
        m_device->SetTrace([](const char* line) { std::fprintf(stderr, "%s\n", line); });
    }
    m_device->SetClockRate(vos::OsGetClockRate());
    m_device->Start();
    g_device = m_device.get();
    m_oldFactory = SetLinkFactory(&MakeInProcessLink);
}

InProcessSim::~InProcessSim() {
    ReleaseDeviceLink();
    SetLinkFactory(m_oldFactory);
    g_device = nullptr;
    m_device->Stop();
    m_device.reset();
    vos::OsSetClockRate(1);
    SetEnv("VANTRO_PORTS_DIR", m_hadPortsDir ? m_oldPortsDir.c_str() : nullptr);
    RemoveTree(m_portsDir);
    if (m_ownRoot) RemoveTree(m_rootDir);
}

void InProcessSim::SetClockRate(uint32_t rate) {
    vos::OsSetClockRate(rate);
    m_device->SetClockRate(rate);
}

}  // namespace vtest
