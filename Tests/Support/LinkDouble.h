// Link doubles for the message layer, the frame controller and the command
// exchange: a CCommIf with real receive and transmit threads, as a real link
// has, and a small scripted device at its far end.
//
//   vtest::LinkBench bench;                 // installs the link factory
//   bench.Usb().SetSilent(true);            // USB writes but nothing answers
//   bench.Port("COM3").Device().SetHandler(
//       [](const vtest::Bytes& req) { return vtest::Bytes{req[0], 0x06}; });
//
// A LinkEndpoint is the far side of one candidate (USB, or a COM port by
// name). It outlives the link objects that the frame controller creates and
// deletes for it, records every frame they write ("the wire"), and lets the
// test feed frames to the PC through the link that is open. Frames are encoded
// here with the doubles' own code, never with the message layer's.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Pc/FrameCtrl/CommIf.h"
#include "Tests/Support/Bytes.h"

class CMessage;

namespace vtest {


// Frames as the device writes them.
Bytes MakeAck(uint8_t state);
Bytes MakeNak(uint32_t code);
Bytes MakePollAnswer(uint8_t state);
// A message cut into Single, or First, Middle 0x80.., Last frames.
std::vector<Bytes> CutMessage(const Bytes& message);
// "02 00 01 00 3B 3C 03"
std::string Hex(const Bytes& bytes);
Bytes FromHex(const std::string& hex);

// The device: answers every request frame with a Reply (ACK, or NAK with the
// set code), joins the request, asks the handler for the response message
// and sends it frame by frame, each after the PC's ACK of the one before and
// again after a NAK; answers every Poll with 06 and its poll state until its
// response starts. Runs on
// the link's transmit thread; the frames it returns go to the PC.
class ScriptedDevice {
public:
    // Returns the response message; an empty one sends no response.
    using Handler = std::function<Bytes(const Bytes& request)>;
    // Lets a test spoil a response frame: index of the frame in the response,
    // how often it was sent before, the frame.
    using Mutator = std::function<void(size_t index, int resend, Bytes& frame)>;

    ScriptedDevice();
    void SetHandler(Handler handler);
    void SetMutator(Mutator mutator);
    void SetPollState(uint8_t state) { m_pollState = state; }
    // NAK every request frame with this code (0: ACK them).
    void SetNakCode(uint32_t code) { m_nakCode = code; }
    // Keep each response until ReleaseResponse (the device works long).
    void SetHoldResponse(bool hold) { m_hold = hold; }

    std::vector<Bytes> OnPcFrame(const Bytes& frame);
    // The first frame of the held response (empty when none is held).
    Bytes ReleaseResponse();

    std::vector<Bytes> Requests() const;
    // Replies the PC sent to the response frames.
    std::vector<Bytes> PcReplies() const;
    uint32_t Polls() const { return m_polls; }
    bool ResponseDone() const;

private:
    Bytes StartResponse(const Bytes& response);
    Bytes NextResponseFrame();

    mutable std::mutex m_lock;
    Handler m_handler;
    Mutator m_mutator;
    std::atomic<uint8_t> m_pollState{2};
    std::atomic<uint32_t> m_nakCode{0};
    std::atomic<bool> m_hold{false};
    std::atomic<uint32_t> m_polls{0};
    Bytes m_request;
    bool m_requestOpen = false;
    std::vector<Bytes> m_requests;
    Bytes m_held;
    bool m_hasHeld = false;
    std::vector<Bytes> m_txFrames;
    size_t m_txIndex = 0;
    int m_txResends = 0;
    std::vector<Bytes> m_pcReplies;
};

class LinkDouble;

class LinkEndpoint {
public:
    LinkEndpoint(uint32_t commDevice, std::string portName);
    ~LinkEndpoint();
    LinkEndpoint(const LinkEndpoint&) = delete;
    LinkEndpoint& operator=(const LinkEndpoint&) = delete;

    // Behaviour.
    void SetSilent(bool silent) { m_silent = silent; }
    // Send fails with 0x900d000d (reported at "Tests/Support/LinkDouble").
    void SetSendFails(bool fails) { m_sendFails = fails; }
    // The link factory gives no object for this candidate.
    void SetNoLinkObject(bool none) { m_noObject = none; }
    // While held, the transmit thread waits before it writes a frame.
    void HoldWrites(bool hold);
    ScriptedDevice& Device() { return m_device; }

    // Feeds a frame to the PC through the open link; false when none is open.
    bool Feed(const Bytes& frame);
    // Sends the device's held response (false when none is held or no link).
    bool ReleaseResponse();

    // Observations.
    std::vector<Bytes> Written() const;
    // Waits (real milliseconds) until at least count frames were written.
    bool WaitWritten(size_t count, uint32_t timeoutMs) const;
    // Waits until the transmit thread is held before a write.
    bool WaitWriteHeld(uint32_t timeoutMs) const;
    void ClearWritten();
    uint32_t Opened() const { return m_opened; }
    uint32_t Closed() const { return m_closed; }
    bool IsOpen() const;
    uint32_t CommDevice() const { return m_commDevice; }
    const std::string& PortName() const { return m_portName; }

private:
    friend class LinkDouble;
    friend class LinkBench;
    void Attach(LinkDouble* link);
    void Detach(LinkDouble* link);
    // Records a frame the PC wrote and delivers the device's answers to it.
    void OnWritten(const Bytes& frame, LinkDouble& link);
    bool WaitWriteGate(const std::atomic<bool>& stop);

    const uint32_t m_commDevice;
    const std::string m_portName;
    std::atomic<bool> m_silent{false};
    std::atomic<bool> m_sendFails{false};
    std::atomic<bool> m_noObject{false};
    ScriptedDevice m_device;

    // Orders the device's output: answers to PC frames and released responses.
    std::mutex m_outputLock;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_cv;
    std::vector<Bytes> m_written;
    LinkDouble* m_link = nullptr;
    bool m_holdWrites = false;
    bool m_writeHeld = false;
    std::atomic<uint32_t> m_opened{0};
    std::atomic<uint32_t> m_closed{0};
};

// A link with a receive thread (frames fed by the far end go to
// OnFrameReceived) and a transmit thread (the pending frame is written to the
// endpoint; CheckTimeouts after 1000 ms without a send request), like the
// serial link. Its Close tells the message layer that the link closed when it
// stands for USB, as the USB link does.
class LinkDouble : public CCommIf {
public:
    LinkDouble(LinkEndpoint& endpoint, CMessage* message, const char* portName);
    ~LinkDouble() override;

    uint32_t Open(const char* portName) override;
    void Close(uint32_t flags) override;
    uint32_t Send() override;
    uint32_t ReceiveThread() override;
    uint32_t TransmitThread() override;

    void Deliver(const Bytes& frame);

private:
    LinkEndpoint& m_endpoint;
    std::mutex m_inLock;
    std::condition_variable m_inCv;
    std::deque<Bytes> m_in;
    bool m_inStop = false;
    std::atomic<bool> m_stopping{false};
    bool m_open = false;
};

// Installs the doubles as the frame controller's link factory while it lives.
// Its destructor releases the process's device link first, so that no link
// double outlives its endpoint.
class LinkBench {
public:
    LinkBench();
    ~LinkBench();
    LinkBench(const LinkBench&) = delete;
    LinkBench& operator=(const LinkBench&) = delete;

    LinkEndpoint& Usb() { return *m_usb; }
    // The endpoint of a COM port (created on first use, answering).
    LinkEndpoint& Port(const std::string& name);
    // Every link the factory was asked for, in order: "USB", "COM3", ...
    std::vector<std::string> Constructed() const;
    // The message layer each link was made for.
    std::vector<CMessage*> Messages() const;

private:
    static CCommIf* Factory(uint32_t commDevice, CMessage* message, const char* portName);
    CCommIf* Make(uint32_t commDevice, CMessage* message, const char* portName);

    mutable std::mutex m_lock;
    std::unique_ptr<LinkEndpoint> m_usb;
    std::map<std::string, std::unique_ptr<LinkEndpoint>> m_ports;
    std::vector<std::string> m_constructed;
    std::vector<CMessage*> m_messages;
};

// Points the POSIX port listing ($VANTRO_PORTS_DIR) at a directory of its
// own holding one symbolic link per name, for as long as it lives. On Windows
// the spooler lists the ports and this does nothing.
class ScopedPortsDir {
public:
    explicit ScopedPortsDir(std::initializer_list<const char*> names);
    ~ScopedPortsDir();
    ScopedPortsDir(const ScopedPortsDir&) = delete;
    ScopedPortsDir& operator=(const ScopedPortsDir&) = delete;

private:
    std::string m_dir;
    std::string m_old;
    bool m_hadOld = false;
};

// A device handler that accepts every command: the request's code byte(s)
// back, status 6, then the given bytes.
ScriptedDevice::Handler AcceptWith(const Bytes& fields);

}  // namespace vtest
