#include "Sim/Vehicle/Vehicle.h"

#include <algorithm>
#include <cstdio>

#include "Sim/Core/DeviceState.h"
#include "Sim/Vehicle/CanChannel.h"
#include "Sim/Vehicle/Channel.h"
#include "Sim/Vehicle/Ecu.h"
#include "Sim/Vehicle/KLine.h"

namespace sim {

namespace {

constexpr uint32_t kValidPins[] = {0, 6, 9, 11, 12, 13, 14, 15};
constexpr uint32_t kShortPin = 15;
constexpr uint32_t kMinProgMv = 5000;
constexpr uint32_t kMaxProgMv = 20000;
constexpr uint32_t kDefaultBatteryMv = 12600;
constexpr size_t kMaxTasksPerPass = 100000;

std::string Format(const char* format, uint32_t a, uint32_t b = 0) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

Vehicle::Vehicle()
    : m_alive(std::make_shared<int>(0)), m_baseTime(std::chrono::steady_clock::now()), m_bus(kCanBitRate) {
    m_ecus.emplace_back(new Ecu(*this, m_bus, m_data, 0, EcuRole::Engine));
    m_ecus.emplace_back(new Ecu(*this, m_bus, m_data, 1, EcuRole::Transmission));
    m_kline.reset(new KLineEcu(*this, m_data));
    m_thread = std::thread([this] { Run(); });
}

Vehicle::Vehicle(DeviceState& device) : Vehicle() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pDevice = &device;
}

Vehicle::~Vehicle() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStop = true;
    }
    m_wake.notify_all();
    m_progress.notify_all();
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard<std::mutex> lock(m_lock);
    m_channels.clear();
    m_ecus.clear();
    m_kline.reset();
    m_tasks.clear();
    m_taskDue.clear();
}

// ---- clock and timers ---------------------------------------------------------------

uint64_t Vehicle::Now() {
    const auto real = std::chrono::steady_clock::now() - m_baseTime;
    const uint64_t us = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(real).count());
    return m_qwBaseMs + us * m_dwRate / 1000;
}

void Vehicle::SetClockRate(uint32_t rate) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_qwBaseMs = Now();
        m_baseTime = std::chrono::steady_clock::now();
        m_dwRate = std::max<uint32_t>(1, rate);
    }
    m_wake.notify_all();
    m_progress.notify_all();
}

Scheduler::TaskId Vehicle::After(uint32_t ms, Token owner, std::function<void()> task) {
    const TaskId id = m_nextTask++;
    const uint64_t due = Now() + ms;
    const bool first = m_tasks.empty() || due < m_tasks.begin()->first.first;
    m_tasks.emplace(std::make_pair(due, id), Task{std::move(owner), std::move(task)});
    m_taskDue[id] = due;
    if (first) m_wake.notify_one();
    return id;
}

void Vehicle::Cancel(TaskId id) {
    auto it = m_taskDue.find(id);
    if (it == m_taskDue.end()) return;
    m_tasks.erase(std::make_pair(it->second, id));
    m_taskDue.erase(it);
}

void Vehicle::RunDue() {
    for (size_t n = 0; n < kMaxTasksPerPass && !m_tasks.empty(); ++n) {
        auto it = m_tasks.begin();
        if (it->first.first > Now()) return;
        Task task = std::move(it->second);
        m_taskDue.erase(it->first.second);
        m_tasks.erase(it);
        if (!task.owner.expired()) task.run();
    }
}

void Vehicle::WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t ms) {
    uint64_t us = ms * 1000 / m_dwRate;
    us = std::min<uint64_t>(std::max<uint64_t>(us, 50), 1000000);
    cv.wait_for(lock, std::chrono::microseconds(us));
}

void Vehicle::Run() {
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_bStop) {
        RunDue();
        const uint64_t now = Now();
        uint64_t wait = 1000;
        if (!m_tasks.empty()) {
            const uint64_t due = m_tasks.begin()->first.first;
            wait = due > now ? due - now : 0;
        }
        if (wait != 0) WaitFor(m_wake, lock, wait);
    }
}

// ---- helpers ---------------------------------------------------------------------------

Channel* Vehicle::Find(uint32_t channelId) {
    auto it = m_channels.find(channelId);
    return it == m_channels.end() ? nullptr : it->second.get();
}

uint32_t Vehicle::Fail(uint32_t status, const std::string& text) {
    m_lastError = text;
    return status;
}

uint32_t Vehicle::NoChannel(uint32_t channelId) {
    return Fail(pt::kErrInvalidChannelId, Format("Invalid channel ID %u", channelId));
}

void Vehicle::SetLastError(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_lastError = text;
}

std::string Vehicle::LastError() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lastError;
}

// ---- channels ----------------------------------------------------------------------------

uint32_t Vehicle::Connect(uint32_t protocolId, uint32_t flags, uint32_t* channelId) {
    std::lock_guard<std::mutex> lock(m_lock);
    uint32_t validFlags = 0;
    switch (protocolId) {
    case pt::kJ1850Vpw:
    case pt::kJ1850Pwm: validFlags = 0; break;
    case pt::kIso9141:
    case pt::kIso14230: validFlags = pt::kFlagIso9141NoChecksum | pt::kFlagIso9141KLineOnly; break;
    case pt::kCan:
    case pt::kIso15765: validFlags = pt::kFlagCan29Bit | pt::kFlagCanIdBoth; break;
    case 7: case 8: case 9: case 10:
        return Fail(pt::kErrNotSupported, Format("Protocol %u (SCI) is not supported", protocolId));
    default:
        return Fail(pt::kErrInvalidProtocolId, Format("Invalid protocol ID %u", protocolId));
    }
    if (flags & ~validFlags)
        return Fail(pt::kErrInvalidFlags, Format("Invalid flags 0x%08X for protocol %u", flags, protocolId));
    for (const auto& entry : m_channels)
        if (entry.second->ProtocolId() == protocolId)
            return Fail(pt::kErrChannelInUse, Format("Protocol %u is already connected on channel %u", protocolId,
                                                     entry.first));
    const uint32_t id = m_dwNextChannelId++;
    auto received = [this] { m_progress.notify_all(); };
    std::unique_ptr<Channel> channel;
    switch (protocolId) {
    case pt::kCan:
    case pt::kIso15765: channel.reset(new CanChannel(id, protocolId, flags, *this, m_bus, received)); break;
    case pt::kIso9141:
    case pt::kIso14230: channel.reset(new KLineChannel(id, protocolId, flags, *this, *m_kline, received)); break;
    default: channel.reset(new J1850Channel(id, protocolId, flags, *this, received)); break;
    }
    m_channels[id] = std::move(channel);
    *channelId = id;
    return pt::kNoError;
}

uint32_t Vehicle::Disconnect(uint32_t channelId) {
    std::unique_ptr<Channel> gone;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_channels.find(channelId);
        if (it == m_channels.end()) return NoChannel(channelId);
        gone = std::move(it->second);
        m_channels.erase(it);
        gone.reset();  // under the lock: it leaves the bus and cancels its timers
    }
    m_progress.notify_all();  // a reader waiting on it gives up
    return pt::kNoError;
}

size_t Vehicle::ChannelCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_channels.size();
}

void Vehicle::Reset() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_channels.clear();
        m_progVoltage.clear();
    }
    m_progress.notify_all();
}

// ---- messages ------------------------------------------------------------------------------

uint32_t Vehicle::ReadMsgs(uint32_t channelId, uint32_t maxMsgs, uint32_t timeoutMs, std::vector<PtMessage>* out) {
    out->clear();
    std::unique_lock<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    if (timeoutMs != 0 && maxMsgs != 0) {
        const uint64_t deadline = Now() + std::min(timeoutMs, kMaxWaitMs);
        while (channel->RxCount() < maxMsgs && !m_bStop) {
            const uint64_t now = Now();
            if (now >= deadline) break;
            WaitFor(m_progress, lock, deadline - now);
            channel = Find(channelId);
            if (!channel) return NoChannel(channelId);
        }
    }
    *out = channel->TakeRx(maxMsgs);
    if (out->empty() && timeoutMs == 0 && maxMsgs != 0) return Fail(pt::kErrBufferEmpty, "No message received");
    if (out->size() < maxMsgs && timeoutMs != 0)
        return Fail(pt::kErrTimeout, Format("%u of %u messages received within the timeout",
                                            static_cast<uint32_t>(out->size()), maxMsgs));
    return pt::kNoError;
}

uint32_t Vehicle::WriteMsgs(uint32_t channelId, const std::vector<PtMessage>& messages, uint32_t timeoutMs,
                            uint32_t* numSent) {
    *numSent = 0;
    std::unique_lock<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    uint32_t queued = 0;
    uint64_t lastSeq = 0;
    std::string error;
    const uint32_t status = channel->Queue(messages, &queued, &lastSeq, &error);
    *numSent = queued;
    if (status != pt::kNoError) return Fail(status, error);
    if (timeoutMs == 0 || queued == 0) return pt::kNoError;

    const uint64_t firstSeq = lastSeq - queued + 1;
    const uint64_t deadline = Now() + std::min(timeoutMs, kMaxWaitMs);
    uint32_t sent = 0;
    for (;;) {
        // Messages leave in order: count the ones out, stop at a failure.
        bool allEnded = true;
        bool failed = false;
        sent = 0;
        for (uint64_t seq = firstSeq; seq <= lastSeq; ++seq) {
            bool ok = false;
            if (!channel->TxEnded(seq, &ok)) {
                allEnded = false;
                break;
            }
            if (!ok) {
                failed = true;
                break;
            }
            ++sent;
        }
        if (failed || allEnded) break;
        const uint64_t now = Now();
        if (now >= deadline || m_bStop) break;
        WaitFor(m_progress, lock, deadline - now);
        channel = Find(channelId);
        if (!channel) return NoChannel(channelId);
    }
    *numSent = sent;
    if (sent < queued)
        return Fail(pt::kErrTimeout, Format("%u of %u messages sent within the timeout", sent, queued));
    return pt::kNoError;
}

uint32_t Vehicle::StartPeriodicMsg(uint32_t channelId, const PtMessage& message, uint32_t intervalMs,
                                   uint32_t* msgId) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    std::string error;
    const uint32_t status = channel->StartPeriodic(message, intervalMs, msgId, &error);
    return status == pt::kNoError ? status : Fail(status, error);
}

uint32_t Vehicle::StopPeriodicMsg(uint32_t channelId, uint32_t msgId) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    std::string error;
    const uint32_t status = channel->StopPeriodic(msgId, &error);
    return status == pt::kNoError ? status : Fail(status, error);
}

uint32_t Vehicle::StartMsgFilter(uint32_t channelId, uint32_t filterType, const PtMessage* mask,
                                 const PtMessage* pattern, const PtMessage* flowControl, uint32_t* filterId) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    std::string error;
    const uint32_t status = channel->StartFilter(filterType, mask, pattern, flowControl, filterId, &error);
    return status == pt::kNoError ? status : Fail(status, error);
}

uint32_t Vehicle::StopMsgFilter(uint32_t channelId, uint32_t filterId) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    std::string error;
    const uint32_t status = channel->StopFilter(filterId, &error);
    return status == pt::kNoError ? status : Fail(status, error);
}

// ---- device-wide ------------------------------------------------------------------------------

uint32_t Vehicle::SetProgrammingVoltage(uint32_t pinNumber, uint32_t voltage) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (std::find(std::begin(kValidPins), std::end(kValidPins), pinNumber) == std::end(kValidPins))
        return Fail(pt::kErrPinInvalid, Format("Pin %u cannot carry a programming voltage", pinNumber));
    if (voltage == pt::kVoltageOff) {
        m_progVoltage.erase(pinNumber);
        return pt::kNoError;
    }
    if (voltage == pt::kShortToGround) {
        if (pinNumber != kShortPin) return Fail(pt::kErrPinInvalid, Format("Only pin %u can be shorted to ground", kShortPin));
    } else if (voltage < kMinProgMv || voltage > kMaxProgMv) {
        return Fail(pt::kErrExceededLimit, Format("Programming voltage %u mV out of range", voltage));
    }
    for (const auto& entry : m_progVoltage)
        if (entry.first != pinNumber)
            return Fail(pt::kErrPinInvalid, Format("Pin %u already carries the programming voltage", entry.first));
    m_progVoltage[pinNumber] = voltage;
    return pt::kNoError;
}

uint32_t Vehicle::ReadProgrammingVoltage(uint32_t* millivolts) {
    std::lock_guard<std::mutex> lock(m_lock);
    *millivolts = 0;
    for (const auto& entry : m_progVoltage)
        if (entry.second != pt::kShortToGround) *millivolts = entry.second;
    return pt::kNoError;
}

uint32_t Vehicle::ReadBatteryVoltage(uint32_t* millivolts) {
    std::lock_guard<std::mutex> lock(m_lock);
    *millivolts = m_pDevice ? static_cast<uint32_t>(m_pDevice->voltage.load()) : kDefaultBatteryMv;
    return pt::kNoError;
}

// ---- Ioctls ------------------------------------------------------------------------------------

uint32_t Vehicle::GetConfig(uint32_t channelId, std::vector<PtConfig>* params) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    std::string error;
    for (PtConfig& p : *params) {
        const uint32_t status = channel->GetConfig(p.parameter, &p.value, &error);
        if (status != pt::kNoError) return Fail(status, error);
    }
    return pt::kNoError;
}

uint32_t Vehicle::SetConfig(uint32_t channelId, const std::vector<PtConfig>& params) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    std::string error;
    for (const PtConfig& p : params) {
        const uint32_t status = channel->SetConfig(p.parameter, p.value, &error);
        if (status != pt::kNoError) return Fail(status, error);
    }
    return pt::kNoError;
}

uint32_t Vehicle::FiveBaudInit(uint32_t channelId, const std::vector<uint8_t>& in, std::vector<uint8_t>* keyBytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    std::string error;
    const uint32_t status = channel->FiveBaudInit(in, keyBytes, &error);
    return status == pt::kNoError ? status : Fail(status, error);
}

uint32_t Vehicle::FastInit(uint32_t channelId, const PtMessage& in, PtMessage* out) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    std::string error;
    const uint32_t status = channel->FastInit(in, out, &error);
    return status == pt::kNoError ? status : Fail(status, error);
}

uint32_t Vehicle::Clear(uint32_t channelId, uint32_t ioctlId) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    switch (ioctlId) {
    case pt::kClearTxBuffer: channel->ClearTx(); break;
    case pt::kClearRxBuffer: channel->ClearRx(); break;
    case pt::kClearPeriodicMsgs: channel->ClearPeriodic(); break;
    case pt::kClearMsgFilters: channel->ClearFilters(); break;
    default: return Fail(pt::kErrInvalidIoctlId, Format("Invalid Ioctl ID 0x%02X", ioctlId));
    }
    return pt::kNoError;
}

uint32_t Vehicle::FunctMsgLookup(uint32_t channelId, uint32_t ioctlId, const std::vector<uint8_t>& addresses) {
    std::lock_guard<std::mutex> lock(m_lock);
    Channel* channel = Find(channelId);
    if (!channel) return NoChannel(channelId);
    std::string error;
    const uint32_t status = channel->FunctLookup(ioctlId, addresses, &error);
    return status == pt::kNoError ? status : Fail(status, error);
}

// ---- the vehicle side ------------------------------------------------------------------------------

void Vehicle::UpdateData(const std::function<void(VehicleData&)>& change) {
    std::lock_guard<std::mutex> lock(m_lock);
    change(m_data);
}

VehicleData Vehicle::Data() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_data;
}

void Vehicle::SetBusBitRate(uint32_t bitRate) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bus.SetBitRate(bitRate);
}

void Vehicle::SetCanTrace(std::function<void(const CanFrame&)> trace) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bus.SetTrace(std::move(trace));
}

bool Vehicle::InjectCanFrame(const CanFrame& frame) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bus.Transmit(nullptr, frame);
}

void Vehicle::SetEcuResponseDelay(uint32_t ms) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& ecu : m_ecus) ecu->SetResponseDelay(ms);
}

}  // namespace sim
