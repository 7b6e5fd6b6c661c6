// The simulated vehicle behind the device's pass-thru services: a 500 kbit/s
// CAN bus with an engine ECU (0x7E0/0x7E8) and a transmission ECU
// (0x7E1/0x7E9) that answer OBD-II and UDS over ISO 15765-2, a K-line with
// an engine ECU for ISO 9141-2 / ISO 14230-4, and the device's J2534 channels
// on them. The vehicle runs its own thread for everything that happens on
// the bus by itself (ECU answers, Consecutive frames, periodic messages,
// time-outs), on a clock of its own that tests may run faster (SetClockRate),
// as they do the library's and the device's.
//
// Both pass-thru families of the device (J2534 04.04 and the stdcall 02.02
// commands) use one Vehicle, the DeviceState family sim::Vehicle:
//
//   Vehicle& v = ctx.Family<Vehicle>();
//   uint32_t channel = 0;
//   uint32_t status = v.Connect(pt::kIso15765, 0, &channel);   // J2534 status
//   if (status != pt::kNoError) ... v.LastError() has the text
//
// Every operation is thread-safe, returns a J2534 status (PassThruDefs.h)
// and, when that is not 0, leaves a text for LastError().
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Sim/Vehicle/CanBus.h"
#include "Sim/Vehicle/PassThruDefs.h"
#include "Sim/Vehicle/VehicleData.h"

namespace sim {

class Channel;
class DeviceState;
class Ecu;
class KLineEcu;

class Vehicle : private Scheduler {
public:
    // The longest a ReadMsgs or WriteMsgs waits on the device (ms): the
    // device answers within the link's 10 s silence limit whatever Timeout
    // the caller gave.
    static constexpr uint32_t kMaxWaitMs = 8000;
    static constexpr uint32_t kCanBitRate = 500000;

    Vehicle();
    // The device's state family: the battery voltage is the device's supply
    // voltage (DeviceState::voltage).
    explicit Vehicle(DeviceState& device);
    ~Vehicle() override;
    Vehicle(const Vehicle&) = delete;
    Vehicle& operator=(const Vehicle&) = delete;

    // ---- J2534 operations -----------------------------------------------------

    // Protocols 1 to 6; one channel per protocol at a time.
    uint32_t Connect(uint32_t protocolId, uint32_t flags, uint32_t* channelId);
    uint32_t Disconnect(uint32_t channelId);
    // Takes up to maxMsgs received messages. timeoutMs 0: what is there, or
    // ERR_BUFFER_EMPTY when nothing is; otherwise waits until maxMsgs have
    // arrived or the time is up (ERR_TIMEOUT with what arrived).
    uint32_t ReadMsgs(uint32_t channelId, uint32_t maxMsgs, uint32_t timeoutMs, std::vector<PtMessage>* out);
    // Queues the messages; with a nonzero timeoutMs waits until they are
    // out (ERR_TIMEOUT when not all made it). *numSent: how many (queued with
    // timeout 0, sent otherwise).
    uint32_t WriteMsgs(uint32_t channelId, const std::vector<PtMessage>& messages, uint32_t timeoutMs,
                       uint32_t* numSent);
    uint32_t StartPeriodicMsg(uint32_t channelId, const PtMessage& message, uint32_t intervalMs, uint32_t* msgId);
    uint32_t StopPeriodicMsg(uint32_t channelId, uint32_t msgId);
    // mask and pattern are required; flowControl for FLOW_CONTROL_FILTER.
    uint32_t StartMsgFilter(uint32_t channelId, uint32_t filterType, const PtMessage* mask, const PtMessage* pattern,
                            const PtMessage* flowControl, uint32_t* filterId);
    uint32_t StopMsgFilter(uint32_t channelId, uint32_t filterId);
    // Pins 0 (auxiliary), 6, 9, 11 to 15; 5000 to 20000 mV, VOLTAGE_OFF, or
    // SHORT_TO_GROUND on pin 15; one pin at a time.
    uint32_t SetProgrammingVoltage(uint32_t pinNumber, uint32_t voltage);

    // Ioctls. GetConfig fills the value of each parameter asked.
    uint32_t GetConfig(uint32_t channelId, std::vector<PtConfig>* params);
    uint32_t SetConfig(uint32_t channelId, const std::vector<PtConfig>& params);
    uint32_t ReadBatteryVoltage(uint32_t* millivolts);
    uint32_t ReadProgrammingVoltage(uint32_t* millivolts);
    uint32_t FiveBaudInit(uint32_t channelId, const std::vector<uint8_t>& in, std::vector<uint8_t>* keyBytes);
    uint32_t FastInit(uint32_t channelId, const PtMessage& in, PtMessage* out);
    // CLEAR_TX_BUFFER, CLEAR_RX_BUFFER, CLEAR_PERIODIC_MSGS, CLEAR_MSG_FILTERS.
    uint32_t Clear(uint32_t channelId, uint32_t ioctlId);
    // CLEAR_FUNCT_MSG_LOOKUP_TABLE, ADD_TO_..., DELETE_FROM_... (J1850PWM).
    uint32_t FunctMsgLookup(uint32_t channelId, uint32_t ioctlId, const std::vector<uint8_t>& addresses);

    // The text of the last failure; the services set it for failures they
    // find themselves (a malformed message, an unknown Ioctl).
    std::string LastError() const;
    void SetLastError(const std::string& text);
    // Channels closed, programming voltage off (the device leaves pass-thru).
    void Reset();

    static const char* FirmwareVersion() { return "VT-3.12.07"; }
    static const char* ApiVersion() { return "04.04"; }

    // ---- the vehicle side (tests, tools) -------------------------------------------

    void UpdateData(const std::function<void(VehicleData&)>& change);
    VehicleData Data() const;
    // The bus's bit rate (the ECUs follow it); channels at another rate see
    // nothing and reach nobody.
    void SetBusBitRate(uint32_t bitRate);
    // Every frame that goes over the CAN bus (called under the vehicle's
    // lock: do not call back into the vehicle).
    void SetCanTrace(std::function<void(const CanFrame&)> trace);
    // Puts a frame on the bus as another node would.
    bool InjectCanFrame(const CanFrame& frame);
    // Time between a request and an ECU's answer.
    void SetEcuResponseDelay(uint32_t ms);
    // The vehicle's time runs `rate` times faster than real time (timers,
    // answers, ReadMsgs and WriteMsgs time-outs); 1 = real time.
    void SetClockRate(uint32_t rate);
    size_t ChannelCount() const;

private:
    // Scheduler (under m_lock).
    uint64_t Now() override;
    TaskId After(uint32_t ms, Token owner, std::function<void()> task) override;
    void Cancel(TaskId id) override;

    void Run();
    void RunDue();
    // Waits on cv for at most ms of the vehicle's clock.
    void WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t ms);
    Channel* Find(uint32_t channelId);
    uint32_t Fail(uint32_t status, const std::string& text);
    uint32_t NoChannel(uint32_t channelId);

    struct Task {
        Token owner;
        std::function<void()> run;
    };

    mutable std::mutex m_lock;
    std::condition_variable m_wake;      // the vehicle's thread
    std::condition_variable m_progress;  // ReadMsgs / WriteMsgs waiters
    std::thread m_thread;
    bool m_bStop = false;
    std::shared_ptr<int> m_alive;

    uint32_t m_dwRate = 1;
    uint64_t m_qwBaseMs = 0;                          // vehicle time at m_baseTime
    std::chrono::steady_clock::time_point m_baseTime;
    std::map<std::pair<uint64_t, TaskId>, Task> m_tasks;
    std::map<TaskId, uint64_t> m_taskDue;
    TaskId m_nextTask = 1;

    DeviceState* m_pDevice = nullptr;
    VehicleData m_data;
    CanBus m_bus;
    std::vector<std::unique_ptr<Ecu>> m_ecus;
    std::unique_ptr<KLineEcu> m_kline;
    std::map<uint32_t, std::unique_ptr<Channel>> m_channels;
    uint32_t m_dwNextChannelId = 1;
    std::string m_lastError;
    std::map<uint32_t, uint32_t> m_progVoltage;  // pin -> millivolts (or SHORT_TO_GROUND)
};

}  // namespace sim
