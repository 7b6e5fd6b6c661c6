// The simulated device's message layer.
//
// The worker thread takes the PC's bytes, cuts them into frames and runs one
// exchange at a time:
//
//   Idle --Single/First--> Receiving --Last--> Working --work done--> Sending
//   Sending --Reply to the last frame--> Idle
//
// Every request frame is answered with a Reply (ACK 06 + state, or NAK 15 +
// u32 code); Polls are answered with a Poll frame carrying 06 and the state
// (1 idle, 2 receiving or working, 3 sending the response). Each response
// frame waits for the PC's Reply; a NAK or 2 s without a Reply sends it
// again, at most kMaxResends times, after which the response is given up. A
// Single or First frame always starts a new exchange, whatever the device
// was doing. Faults (FaultPlan) are applied on the way.
#include "Sim/Core/SimDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Sim/Core/Dispatcher.h"
#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/FrameCodec.h"
#include "Sim/Core/Services.h"
#include "Sim/Vehicle/Vehicle.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kPartialFrameMs = 1000;   // the rest of a started frame must come within this
constexpr uint32_t kReplyWaitMs = 2000;      // the PC's Reply to a response frame
constexpr uint32_t kRequestGapMs = 10000;    // between the frames of one request
constexpr uint32_t kMaxResends = 3;          // per response frame
constexpr size_t kMaxRequest = 16u << 20;    // the device's request buffer
constexpr size_t kMaxInbox = 4u << 20;       // bytes from the PC not yet taken
constexpr uint32_t kMaxNoise = 65536;        // noise bytes before one frame
// A corrupted first response frame leaves this much real time after the
// Reply, as a slower device would: the PC has then taken the acceptance of
// its request before the bad frame arrives, so the frame's error is seen as
// the response's and not as the request's.
constexpr auto kCorruptFirstFramePause = std::chrono::milliseconds(30);

constexpr uint8_t kStateIdle = 1;
constexpr uint8_t kStateBusy = 2;
constexpr uint8_t kStateAnswering = 3;

enum class Phase {
    Idle,       // no exchange
    Receiving,  // request frames arriving
    Working,    // request complete, response not yet sent
    Sending,    // response frames going out
    Lost,       // the response was dropped; Polls get a fixed state
    Silent,     // nothing is answered until the next request
};

std::string Hex(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(' ');
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 15]);
    }
    return out;
}

}  // namespace

struct SimDevice::Impl {
    explicit Impl(SimConfig config) : device(std::move(config)) { RegisterAllServices(table); }

    DeviceState device;
    ServiceTable table;
    FaultPlan faults;
    std::atomic<uint32_t> rate{1};

    // Shared with other threads.
    std::mutex lock;
    std::condition_variable wake;
    std::vector<uint8_t> inbox;
    bool stopping = false;
    std::thread worker;
    std::mutex outLock;  // sink and trace
    std::function<void(const uint8_t*, size_t)> sink;
    std::function<void(const char*)> trace;
    mutable std::mutex statsLock;
    SimStats stats;

    // The worker's own state.
    FrameParser parser;
    Clock::time_point lastByte{};
    Phase phase = Phase::Idle;
    std::vector<uint8_t> request;
    uint32_t requestFrames = 0;
    bool codeKnown = false;
    uint32_t code = 0;
    uint32_t pollCount = 0;
    uint8_t lostState = 0;
    Clock::time_point deadline{};  // of the phase: request gap, work end, Reply wait
    std::vector<std::vector<uint8_t>> txFrames;
    size_t txIndex = 0;
    uint32_t resends = 0;
    bool txExtra = false;  // the frame out is a repeated Middle frame
    bool paused = false;   // the pause before a corrupted first frame was taken
    // Output held back by a late Reply.
    Clock::time_point holdUntil{};
    std::vector<std::vector<uint8_t>> held;
    std::atomic<bool> holding{false};  // held is not empty (read by other threads)
    // Transports to bring back after a close or detach fault.
    std::vector<std::pair<Clock::time_point, FaultKind>> restores;

    Clock::duration Span(uint32_t ms) const {
        const uint32_t r = std::max<uint32_t>(1, rate.load());
        return std::chrono::microseconds(static_cast<uint64_t>(ms) * 1000 / r);
    }
    template <class F>
    void Count(F f) {
        std::lock_guard<std::mutex> guard(statsLock);
        f(stats);
    }

    void Trace(const char* who, const uint8_t* data, size_t size, const char* note = "") {
        std::lock_guard<std::mutex> guard(outLock);
        if (!trace) return;
        const std::string line = std::string(who) + note + Hex(data, size);
        trace(line.c_str());
    }

    // Puts bytes on the wire (or holds them back behind a late Reply).
    void Write(std::vector<uint8_t> bytes, Clock::time_point now) {
        if (!held.empty() || now < holdUntil) {
            held.push_back(std::move(bytes));
            holding = true;
            return;
        }
        WriteNow(bytes);
    }
    void WriteNow(const std::vector<uint8_t>& bytes) {
        Trace("DEV>", bytes.data(), bytes.size());
        std::lock_guard<std::mutex> guard(outLock);
        if (sink && !bytes.empty()) sink(bytes.data(), bytes.size());
    }

    bool Take(FaultKind kind, FaultTarget on, uint32_t frame, FaultRule* rule = nullptr) {
        FaultRule local;
        return faults.Take(kind, on, codeKnown, code, frame, rule ? rule : &local);
    }

    // Sends one frame with the frame faults of its kind applied.
    void Emit(const std::vector<uint8_t>& frame, FaultTarget on, uint32_t number, Clock::time_point now) {
        std::vector<uint8_t> out = frame;
        FaultRule rule;
        if (Take(FaultKind::Checksum, on, number)) out[out.size() - 2] ^= 0x5A;
        if (Take(FaultKind::Length, on, number)) {
            const uint32_t length = (out[2] | (out[3] << 8)) + 1;
            out[2] = static_cast<uint8_t>(length);
            out[3] = static_cast<uint8_t>(length >> 8);
        }
        if (Take(FaultKind::Delimiter, on, number, &rule)) {
            if (rule.value == 1) out.front() = 0x5A;
            else out.back() = 0x04;
        }
        if (Take(FaultKind::Noise, on, number, &rule)) {
            static const uint8_t kNoise[4] = {0x55, 0xAA, 0xFF, 0x00};  // never a start byte
            std::vector<uint8_t> noise(std::min(rule.value, kMaxNoise));
            for (size_t i = 0; i < noise.size(); ++i) noise[i] = kNoise[i % 4];
            Write(std::move(noise), now);
        }
        Write(std::move(out), now);
        Count([](SimStats& s) { ++s.framesToPc; });
    }

    void Nak(uint32_t why, Clock::time_point now) {
        Emit(BuildNak(why), FaultTarget::Reply, requestFrames, now);
        Count([](SimStats& s) { ++s.naksSent; });
    }

    void EndExchange(bool abandoned) {
        if (abandoned && (phase == Phase::Working || phase == Phase::Sending))
            Count([](SimStats& s) { ++s.abandoned; });
        phase = Phase::Idle;
        request.clear();
        request.shrink_to_fit();
        txFrames.clear();
        txIndex = 0;
        resends = 0;
        txExtra = false;
    }

    // --- frames from the PC --------------------------------------------------

    void OnFrame(const RxFrame& f, Clock::time_point now) {
        Trace("PC>", f.raw.data(), f.raw.size(), f.checksumOk ? "" : " (bad checksum)");
        Count([](SimStats& s) { ++s.framesFromPc; });
        const bool starts = f.type == kTypeSingle || f.type == kTypeFirst;
        if (phase == Phase::Silent && !starts) return;
        if (IsDataType(f.type)) OnDataFrame(f, now);
        else if (f.type == kTypePoll) OnPoll(f, now);
        else if (f.type == kTypeReply) OnReply(f, now);
        // Other types mean nothing to the device.
    }

    void OnDataFrame(const RxFrame& f, Clock::time_point now) {
        const bool starts = f.type == kTypeSingle || f.type == kTypeFirst;
        if (starts) {
            if (phase != Phase::Idle) EndExchange(true);
            requestFrames = 1;
            pollCount = 0;
            codeKnown = DecodeCode(f.payload.data(), f.payload.size(), &code) > 0;
            if (!codeKnown) code = 0;
            if (!f.checksumOk) {
                Nak(kNakBadChecksum, now);
                EndExchange(false);
                return;
            }
            request = f.payload;
        } else {
            if (phase != Phase::Receiving) {
                ++requestFrames;
                Nak(kNakUnexpected, now);
                return;
            }
            ++requestFrames;
            if (!f.checksumOk) {
                Nak(kNakBadChecksum, now);
                EndExchange(false);
                return;
            }
            if (IsMiddleType(f.type) && f.type != MiddleType(requestFrames)) {
                Nak(kNakBadSequence, now);
                EndExchange(false);
                return;
            }
            if (request.size() + f.payload.size() > kMaxRequest) {
                Nak(kNakTooLong, now);
                EndExchange(false);
                return;
            }
            request.insert(request.end(), f.payload.begin(), f.payload.end());
        }
        const bool complete = f.type == kTypeSingle || f.type == kTypeLast;

        FaultRule rule;
        if (requestFrames == 1 && (Take(FaultKind::ClosePort, FaultTarget::Data, 0, &rule) ||
                                   Take(FaultKind::DetachUsb, FaultTarget::Data, 0, &rule))) {
            EndExchange(false);
            FaultPlan::TransportAction action = faults.GetTransportAction();
            if (action) action(rule.kind, true);
            restores.emplace_back(now + Span(rule.value), rule.kind);
            return;
        }
        if (Take(FaultKind::Silent, FaultTarget::Reply, requestFrames)) {
            EndExchange(false);
            phase = Phase::Silent;
            return;
        }
        if (Take(FaultKind::Nak, FaultTarget::Reply, requestFrames, &rule)) {
            Nak(rule.value, now);
            EndExchange(false);
            return;
        }
        const bool dropReply = Take(FaultKind::DropReply, FaultTarget::Reply, requestFrames);
        if (Take(FaultKind::Late, FaultTarget::Reply, requestFrames, &rule))
            holdUntil = std::max(holdUntil, now) + Span(rule.value);
        if (dropReply) Trace("DEV>", nullptr, 0, " (Reply dropped)");
        else Emit(BuildAck(kStateBusy), FaultTarget::Reply, requestFrames, now);

        if (!complete) {
            phase = Phase::Receiving;
            deadline = now + Span(kRequestGapMs);
            return;
        }
        StartCommand(now);
    }

    void StartCommand(Clock::time_point now) {
        Count([](SimStats& s) { ++s.commands; });
        DispatchResult result;
        FaultRule rule;
        if (Take(FaultKind::Refuse, FaultTarget::Data, 0, &rule)) {
            result.code = code;
            result.response = EncodeRefusal(code, rule.value);
            device.lastError = rule.value;
        } else if (Take(FaultKind::Oversize, FaultTarget::Data, 0)) {
            const bool before = device.Config().hostile;
            device.MutableConfig().hostile = true;
            result = Dispatch(table, device, request.data(), request.size());
            device.MutableConfig().hostile = before;
        } else {
            result = Dispatch(table, device, request.data(), request.size());
        }
        request.clear();
        request.shrink_to_fit();
        uint32_t work = result.workMs;
        if (Take(FaultKind::Late, FaultTarget::Data, 0, &rule)) work += rule.value;
        if (Take(FaultKind::Silent, FaultTarget::Data, 0)) {
            EndExchange(false);
            phase = Phase::Silent;
            return;
        }
        if (Take(FaultKind::PollState, FaultTarget::Poll, 0, &rule)) {
            EndExchange(false);
            phase = Phase::Lost;
            lostState = static_cast<uint8_t>(rule.value);
            return;
        }
        txFrames = CutMessage(result.response);
        txIndex = 0;
        resends = 0;
        txExtra = false;
        paused = false;
        phase = Phase::Working;
        deadline = std::max(now, holdUntil) + Span(work);
    }

    void OnPoll(const RxFrame& f, Clock::time_point now) {
        if (!f.checksumOk || !f.payload.empty()) return;  // not the PC's Poll
        uint8_t state = kStateIdle;
        switch (phase) {
            case Phase::Idle: state = kStateIdle; break;
            case Phase::Receiving:
            case Phase::Working: state = kStateBusy; break;
            case Phase::Sending: state = kStateAnswering; break;
            case Phase::Lost: state = lostState; break;
            case Phase::Silent: return;
        }
        ++pollCount;
        Emit(BuildPollAnswer(state), FaultTarget::Poll, pollCount, now);
    }

    void OnReply(const RxFrame& f, Clock::time_point now) {
        if (phase != Phase::Sending || !f.checksumOk) return;  // a bad Reply counts as none
        const bool ack = f.payload.size() == 2 && f.payload[0] == kReplyAck;
        const bool nak = f.payload.size() == 5 && f.payload[0] == kReplyNak;
        if (!ack && !nak) return;
        if (txExtra) {
            // The PC has seen the repeated frame (and NAKed it as out of
            // sequence): go on with the next one.
            txExtra = false;
            NextFrame(now);
            return;
        }
        if (nak) {
            Resend(now);
            return;
        }
        const std::vector<uint8_t>& sent = txFrames[txIndex];
        if (IsMiddleType(sent[1]) && Take(FaultKind::Repeat, FaultTarget::Data, static_cast<uint32_t>(txIndex + 1))) {
            txExtra = true;
            Write(sent, now);
            Count([](SimStats& s) { ++s.framesToPc; });
            deadline = std::max(now, holdUntil) + Span(kReplyWaitMs);
            return;
        }
        NextFrame(now);
    }

    // --- the response --------------------------------------------------------

    void SendFrame(Clock::time_point now) {
        const uint32_t number = static_cast<uint32_t>(txIndex + 1);
        if (Take(FaultKind::DropFrame, FaultTarget::Data, number)) {
            Trace("DEV>", txFrames[txIndex].data(), txFrames[txIndex].size(), " (dropped)");
        } else {
            Emit(txFrames[txIndex], FaultTarget::Data, number, now);
        }
        phase = Phase::Sending;
        deadline = std::max(now, holdUntil) + Span(kReplyWaitMs);
    }

    void NextFrame(Clock::time_point now) {
        ++txIndex;
        resends = 0;
        if (txIndex >= txFrames.size()) {
            Count([](SimStats& s) { ++s.exchangesDone; });
            EndExchange(false);
            return;
        }
        SendFrame(now);
    }

    void Resend(Clock::time_point now) {
        if (++resends > kMaxResends) {
            Trace("DEV>", nullptr, 0, " (response given up)");
            EndExchange(true);
            return;
        }
        Count([](SimStats& s) { ++s.resends; });
        SendFrame(now);
    }

    // --- time ----------------------------------------------------------------

    void OnTime(Clock::time_point now) {
        if (!held.empty() && now >= holdUntil) {
            std::vector<std::vector<uint8_t>> out;
            out.swap(held);
            for (const auto& bytes : out) WriteNow(bytes);
            holding = false;
        }
        for (size_t i = 0; i < restores.size();) {
            if (now >= restores[i].first) {
                const FaultKind kind = restores[i].second;
                restores.erase(restores.begin() + static_cast<std::ptrdiff_t>(i));
                FaultPlan::TransportAction action = faults.GetTransportAction();
                if (action) action(kind, false);
            } else {
                ++i;
            }
        }
        if (now < deadline) return;
        switch (phase) {
            case Phase::Receiving:
                EndExchange(false);  // the rest of the request never came
                break;
            case Phase::Working:
                if (!paused && FirstFrameCorrupted()) {
                    paused = true;
                    deadline = now + kCorruptFirstFramePause;
                    break;
                }
                SendFrame(now);
                break;
            case Phase::Sending:
                if (txExtra) {
                    txExtra = false;
                    NextFrame(now);
                } else {
                    Resend(now);
                }
                break;
            default:
                break;
        }
    }

    bool FirstFrameCorrupted() const {
        for (FaultKind kind : {FaultKind::Checksum, FaultKind::Length, FaultKind::Delimiter})
            if (faults.Peek(kind, FaultTarget::Data, codeKnown, code, 1)) return true;
        return false;
    }

    Clock::time_point NextWake(Clock::time_point now) const {
        Clock::time_point next = now + std::chrono::seconds(1);
        if (parser.HasPartial()) next = std::min(next, lastByte + Span(kPartialFrameMs));
        if (phase == Phase::Receiving || phase == Phase::Working || phase == Phase::Sending)
            next = std::min(next, deadline);
        if (!held.empty()) next = std::min(next, holdUntil);
        for (const auto& r : restores) next = std::min(next, r.first);
        return next;
    }

    void TakeFrames(Clock::time_point now) {
        RxFrame frame;
        for (;;) {
            while (parser.Next(&frame)) OnFrame(frame, now);
            if (!parser.HasPartial() || now < lastByte + Span(kPartialFrameMs)) break;
            parser.DropPartial();  // the rest of this frame did not come in time
        }
        const uint32_t discarded = static_cast<uint32_t>(parser.Discarded());
        Count([&](SimStats& s) { s.bytesDiscarded = discarded; });
    }

    void Run() {
        std::vector<uint8_t> bytes;
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock);
                const Clock::time_point wakeAt = NextWake(Clock::now());
                wake.wait_until(guard, wakeAt, [&] { return stopping || !inbox.empty(); });
                if (stopping) return;
                bytes.swap(inbox);
            }
            const Clock::time_point now = Clock::now();
            if (!bytes.empty()) {
                parser.Feed(bytes.data(), bytes.size());
                lastByte = now;
                bytes.clear();
            }
            TakeFrames(now);
            OnTime(now);
        }
    }
};

SimDevice::SimDevice(SimConfig config) : m_impl(new Impl(std::move(config))) {}

SimDevice::~SimDevice() { Stop(); }

void SimDevice::SetSink(std::function<void(const uint8_t* data, size_t size)> toPc) {
    std::lock_guard<std::mutex> guard(m_impl->outLock);
    m_impl->sink = std::move(toPc);
}

void SimDevice::OnBytesFromPc(const uint8_t* data, size_t size) {
    if (!data || !size) return;
    {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        std::vector<uint8_t>& inbox = m_impl->inbox;
        if (inbox.size() + size > kMaxInbox) {
            // The device cannot keep up: the oldest bytes are lost, as on a
            // serial line whose receive buffer overflowed.
            const size_t drop = std::min(inbox.size(), inbox.size() + size - kMaxInbox);
            inbox.erase(inbox.begin(), inbox.begin() + static_cast<std::ptrdiff_t>(drop));
            if (size > kMaxInbox) {
                data += size - kMaxInbox;
                size = kMaxInbox;
            }
        }
        inbox.insert(inbox.end(), data, data + size);
    }
    m_impl->wake.notify_one();
}

void SimDevice::Start() {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    if (m_impl->worker.joinable()) return;
    m_impl->stopping = false;
    m_impl->worker = std::thread([impl = m_impl.get()] { impl->Run(); });
}

void SimDevice::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        if (!m_impl->worker.joinable()) return;
        m_impl->stopping = true;
    }
    m_impl->wake.notify_one();
    m_impl->worker.join();
    // Bring back a transport that a fault took down.
    FaultPlan::TransportAction action = m_impl->faults.GetTransportAction();
    for (const auto& r : m_impl->restores)
        if (action) action(r.second, false);
    m_impl->restores.clear();
}

DeviceState& SimDevice::State() { return m_impl->device; }

FaultPlan& SimDevice::Faults() { return m_impl->faults; }

void SimDevice::SetTrace(std::function<void(const char* line)> trace) {
    std::lock_guard<std::mutex> guard(m_impl->outLock);
    m_impl->trace = std::move(trace);
}

void SimDevice::SetClockRate(uint32_t rate) {
    m_impl->rate = rate ? rate : 1;
    // The vehicle's time-outs run on the same clock.
    State().Family<Vehicle>().SetClockRate(rate);
}

bool SimDevice::HoldsOutput() const { return m_impl->holding; }

SimStats SimDevice::Stats() const {
    std::lock_guard<std::mutex> guard(m_impl->statsLock);
    return m_impl->stats;
}

}  // namespace sim
