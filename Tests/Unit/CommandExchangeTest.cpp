// The command exchange: CommandCode encoding and decoding, the writer's
// growth, ExecuteCommand's attempts, refusals, tracing, the mutex and the
// first call from two threads. The exchanges run through the real message
// layer and frame controller to a scripted device behind a LinkDouble.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "Pc/Message/Message.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/MsgReader.h"
#include "Pc/MsgCtrl/MsgWriter.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsMemory.h"
#include "Tessra/CmdIo.h"
#include "Tests/Support/LinkDouble.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/vantro_errors.h"

using vtest::Bytes;
using vtest::FromHex;
using vtest::Hex;

namespace {

const char kWriterPath[] = "Pc/MsgCtrl/MsgWriter";
const char kReaderPath[] = "Pc/MsgCtrl/MsgReader";

// Request: a u32 and a u8. Response: a u32.
struct PairRequest : CCmdBase {
    PairRequest(uint32_t a = 0, uint8_t b = 0) : CCmdBase(0), A(a), B(b) {}
    uint32_t A;
    uint8_t B;
    template <class S>
    void Fields(S& s) {
        Xfer(s, A);
        Xfer(s, B);
    }
    TESSRA_FIELD_IO
};

struct ValueResponse : CCmdBase {
    ValueResponse() : CCmdBase(0), Value(0) {}
    uint32_t Value;
    template <class S>
    void Fields(S& s) {
        Xfer(s, Value);
    }
    TESSRA_FIELD_IO
};

// A record that writes raw bytes of a chosen size (0 is refused by the writer).
struct RawRequest : CCmdBase {
    explicit RawRequest(size_t n) : CCmdBase(0), Bytes_(n, 0x5A) {}
    void Write(CCmdWriter& writer) override {
        writer.Write(Bytes_.data(), static_cast<int32_t>(Bytes_.size()));
    }
    Bytes Bytes_;
};

Bytes WriterBytes(uint32_t code, CCmdCore* record) {
    MsgWriter w;
    w.WriteCommand(code, record);
    return Bytes(w.GetBuffer(), w.GetBuffer() + w.GetSize());
}

// ---- CommandCode --------------------------------------------------------------------

TEST(CommandCode, EncodesOneToFourBytes) {
    struct Case {
        uint32_t code;
        const char* wire;
    };
    const Case cases[] = {
        {33, "21"},
        {0x00, "00"},
        {0x7E, "7E"},
        {0x80, "80"},
        {0xFE, "FE"},
        {0x7F, "7F 00"},
        {0xFF, "FF 00"},
        {0x0B7F, "7F 0B"},
        {0xFF7F, "7F FF 00"},
        {0x00FFFF7Fu, "7F FF FF 00"},
        {0xABFFFF7Fu, "7F FF FF AB"},
        {0x12FF347Fu, "7F 34"},  // bits above the last byte are not sent
        {0xABCDEF21u, "21"},
        {0xFFFFFF21u, "21"},
    };
    CCmdBase empty(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        uint8_t out[4];
        uint32_t n = EncodeCommandCode(c.code, out);
        EXPECT_EQ(c.wire, Hex(Bytes(out, out + n)));
        EXPECT_EQ(c.wire, Hex(WriterBytes(c.code, &empty)));
    }
}

TEST(CommandCode, DecodingMirrorsTheEncoding) {
    struct Case {
        const char* wire;
        uint32_t code;
    };
    const Case cases[] = {
        {"21 06", 0x21},
        {"7F 00 06", 0x7F},
        {"FF 00 06", 0xFF},
        {"7F 0B 06", 0x0B7F},
        {"7F FF 00 06", 0xFF7F},
        {"7F FF FF 00 06", 0x00FFFF7F},
        {"FF FF FF FF 06", 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        Bytes wire = FromHex(c.wire);
        MsgReader reader;
        CCmdBase response(0);
        reader.SetBuffer(wire.data(), static_cast<uint32_t>(wire.size()));
        reader.ReadCommand(&response);
        EXPECT_EQ(0u, reader.GetLastError());
        EXPECT_EQ(c.code, reader.CommandCode);
        EXPECT_EQ(6, reader.ResponseStatus);
    }
}

TEST(CommandCode, ReaderTakesStatusAndRefusalCode) {
    vtest::ReportCapture reports;
    Bytes refused = FromHex("7F 0B 15 78 56 34 12 EE");
    MsgReader reader;
    ValueResponse response;
    response.Value = 7;
    reader.SetBuffer(refused.data(), static_cast<uint32_t>(refused.size()));
    reader.ReadCommand(&response);
    EXPECT_EQ(0u, reader.GetLastError());
    EXPECT_EQ(21, reader.ResponseStatus);
    EXPECT_EQ(0x12345678u, reader.RefusalCode);
    EXPECT_EQ(7u, response.Value) << "the record is not read after a refusal";

    // A short response leaves the reader's error.
    Bytes shortOne = FromHex("21 06 01 02");
    reader.SetBuffer(shortOne.data(), static_cast<uint32_t>(shortOne.size()));
    reader.ReadCommand(&response);
    EXPECT_EQ(kTessraShortRead, reader.GetLastError());

    reader.SetBuffer(shortOne.data(), static_cast<uint32_t>(shortOne.size()));
    reader.ReadCommand(nullptr);
    EXPECT_EQ(QXR_ERROR_INVALID_PARAMETER, reader.GetLastError());
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_INVALID_PARAMETER, kReaderPath));
    EXPECT_EQ(1u, reports.Reports().size());
}

// ---- MsgWriter ---------------------------------------------------------------------

TEST(MsgWriterTest, GrowsInStepsOf1024) {
    vtest::ReportCapture reports;
    MsgWriter w;
    EXPECT_EQ(0u, w.GetCapacity());
    uint8_t byte = 1;
    EXPECT_EQ(0u, w.Write(&byte, 1));
    EXPECT_EQ(1024u, w.GetCapacity());
    Bytes more(1499, 2);
    EXPECT_EQ(0u, w.Write(more.data(), 1499));
    EXPECT_EQ(2048u, w.GetCapacity());
    EXPECT_EQ(1500u, w.GetSize());
    EXPECT_EQ(1, w.GetBuffer()[0]);
    EXPECT_EQ(2, w.GetBuffer()[1499]);
    Bytes exact(548, 3);
    EXPECT_EQ(0u, w.Write(exact.data(), 548));
    EXPECT_EQ(2048u, w.GetCapacity()) << "exactly full";
    EXPECT_EQ(0u, w.Write(&byte, 1));
    EXPECT_EQ(3072u, w.GetCapacity());

    EXPECT_EQ(QXR_ERROR_INVALID_PARAMETER, w.Write(&byte, 0));
    EXPECT_EQ(QXR_ERROR_INVALID_PARAMETER, w.Write(nullptr, 4));
    EXPECT_EQ(QXR_ERROR_INVALID_PARAMETER, w.Write(&byte, -1));
    EXPECT_EQ(QXR_ERROR_INVALID_PARAMETER, w.GetLastError());
    EXPECT_EQ(2049u, w.GetSize()) << "nothing written";
    EXPECT_EQ(3u, reports.Count(QXR_ERROR_INVALID_PARAMETER, kWriterPath));
}

TEST(MsgWriterTest, FailedGrowthKeepsTheOldBuffer) {
    vtest::ReportCapture reports;
    MsgWriter w;
    Bytes first(1000, 7);
    ASSERT_EQ(0u, w.Write(first.data(), 1000));
    vos::SetAllocFailHook([](size_t) { return true; });
    Bytes more(100, 8);
    EXPECT_EQ(QXR_ERROR_OUT_OF_MEMORY, w.Write(more.data(), 100));
    vos::SetAllocFailHook(nullptr);
    EXPECT_EQ(QXR_ERROR_OUT_OF_MEMORY, w.GetLastError());
    EXPECT_EQ(1000u, w.GetSize());
    EXPECT_EQ(1024u, w.GetCapacity());
    EXPECT_EQ(Bytes(1000, 7), Bytes(w.GetBuffer(), w.GetBuffer() + 1000));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_OUT_OF_MEMORY, kWriterPath));
}

// ---- ExecuteCommand -------------------------------------------------------------------

class ExecuteCommandTest : public ::testing::Test {
protected:
    // The clock runs at its real rate: the first frame of a fresh message
    // layer must be answered before the first check, about 1000 ms after it
    // was written (its LastActivity is still 0), and a slow machine must not
    // turn that into a time-out.
    void SetUp() override { ReleaseDeviceLink(); }
    // No COM ports: USB is the only candidate.
    vtest::ScopedPortsDir noPorts{};
    void TearDown() override {
        vos::SetAllocFailHook(nullptr);
        ReleaseDeviceLink();
        vos::OsSetClockRate(1);
    }
    vtest::ScriptedDevice& Device() { return bench.Usb().Device(); }

    vtest::ReportCapture reports;
    vtest::LinkBench bench;
};

TEST_F(ExecuteCommandTest, OneExchangeCarriesCodeRequestAndResponse) {
    Device().SetHandler(vtest::AcceptWith({0x44, 0x33, 0x22, 0x11}));
    PairRequest request(0x0A0B0C0D, 0xEE);
    ValueResponse response;
    ASSERT_EQ(0u, ExecuteCommand(0x0B7F, &request, &response, 0, 0));
    EXPECT_EQ(0x11223344u, response.Value);
    ASSERT_EQ(1u, Device().Requests().size());
    EXPECT_EQ("7F 0B 0D 0C 0B 0A EE", Hex(Device().Requests()[0]));
    EXPECT_EQ("02 00 07 00 7F 0B 0D 0C 0B 0A EE AD 03", Hex(bench.Usb().Written().at(0)));
    EXPECT_TRUE(reports.Reports().empty());
    EXPECT_TRUE(reports.Traces().empty()) << "trace 0";
}

TEST_F(ExecuteCommandTest, AResponseWithAnotherCodeIsAccepted) {
    Device().SetHandler([](const Bytes&) { return FromHex("7F 22 06 01 00 00 00"); });
    CCmdBase request(0);
    ValueResponse response;
    EXPECT_EQ(0u, ExecuteCommand(5, &request, &response, 0, 0));
    EXPECT_EQ(1u, response.Value);
}

TEST_F(ExecuteCommandTest, RefusalsAreRetriedAndTheLastCodeReturned) {
    std::atomic<int> n{0};
    Device().SetHandler([&](const Bytes& request) {
        Bytes r{request[0], 21, static_cast<uint8_t>(0x10 + n++), 0, 0, 0x90};
        return r;
    });
    PairRequest request(1, 2);
    ValueResponse response;
    EXPECT_EQ(0x90000012u, ExecuteCommand(9, &request, &response, 2, 0));
    ASSERT_EQ(3u, Device().Requests().size());
    for (const Bytes& r : Device().Requests()) EXPECT_EQ("09 01 00 00 00 02", Hex(r));
    EXPECT_TRUE(reports.Reports().empty()) << "the device's refusal is no failure of the library";

    // Retries 0: exactly one attempt.
    n = 0;
    EXPECT_EQ(0x90000010u, ExecuteCommand(9, &request, &response, 0, 0));
    EXPECT_EQ(4u, Device().Requests().size());
}

TEST_F(ExecuteCommandTest, RetriesWithoutLimitEndOnTheFirstAcceptance) {
    std::atomic<int> n{0};
    Device().SetHandler([&](const Bytes& request) {
        if (++n < 5) return Bytes{request[0], 21, 1, 0, 0, 0};
        return Bytes{request[0], 6, 9, 0, 0, 0};
    });
    CCmdBase request(0);
    ValueResponse response;
    EXPECT_EQ(0u, ExecuteCommand(4, &request, &response, 0xFFFFFFFFu, 0));
    EXPECT_EQ(9u, response.Value);
    EXPECT_EQ(5, n.load());
}

TEST_F(ExecuteCommandTest, OtherStatusesAreNoRefusalAndLeaveTheRecordUnread) {
    Device().SetHandler([](const Bytes& request) { return Bytes{request[0], 0x07, 1, 2, 3, 4, 5, 6}; });
    CCmdBase request(0);
    ValueResponse response;
    response.Value = 0xCAFE;
    EXPECT_EQ(0u, ExecuteCommand(4, &request, &response, 3, 0));
    EXPECT_EQ(0xCAFEu, response.Value);
    EXPECT_EQ(1u, Device().Requests().size());
}

TEST_F(ExecuteCommandTest, AShortAcceptedResponseIsRetriedWithTheReadersError) {
    Device().SetHandler([](const Bytes& request) { return Bytes{request[0], 6, 1, 2}; });
    CCmdBase request(0);
    ValueResponse response;
    EXPECT_EQ(kTessraShortRead, ExecuteCommand(4, &request, &response, 1, 0));
    EXPECT_EQ(2u, Device().Requests().size());

    // A null response record: every attempt is sent, answered and fails.
    EXPECT_EQ(QXR_ERROR_INVALID_PARAMETER, ExecuteCommand(4, &request, nullptr, 1, 0));
    EXPECT_EQ(4u, Device().Requests().size());
    EXPECT_EQ(2u, reports.Count(QXR_ERROR_INVALID_PARAMETER, kReaderPath));
}

TEST_F(ExecuteCommandTest, TraceOnePassesEachRequestAndResponseToComReport) {
    Device().SetHandler([](const Bytes& request) { return Bytes{request[0], 21, 5, 0, 0, 0}; });
    PairRequest request(3, 4);
    ValueResponse response;
    ExecuteCommand(0x21, &request, &response, 1, 0);
    EXPECT_TRUE(reports.Traces().empty());
    ExecuteCommand(0x21, &request, &response, 1, 1);
    auto traces = reports.Traces();
    ASSERT_EQ(4u, traces.size());
    EXPECT_EQ("21 03 00 00 00 04", Hex(traces[0]));
    EXPECT_EQ("21 15 05 00 00 00", Hex(traces[1]));
    EXPECT_EQ(traces[0], traces[2]);
    EXPECT_EQ(traces[1], traces[3]);
}

TEST_F(ExecuteCommandTest, RequestsThatCannotBeWrittenAreNeverSent) {
    // Hold the communication mutex in another thread: an ExecuteCommand that
    // tried to take it would block.
    std::promise<void> held, release;
    std::thread holder([&] {
        EXPECT_EQ(0u, LockCommunication(vos::kOsInfinite));
        held.set_value();
        release.get_future().wait();
        UnlockCommunication();
    });
    held.get_future().wait();

    auto run = [](uint32_t code, CCmdCore* request) {
        auto result = std::async(std::launch::async, [=] {
            ValueResponse response;
            return ExecuteCommand(code, request, &response, 2, 1);
        });
        if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return 0xDEADu;
        return result.get();
    };
    EXPECT_EQ(QXR_ERROR_INVALID_PARAMETER, run(3, nullptr));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_INVALID_PARAMETER, kWriterPath));

    RawRequest empty(0);
    EXPECT_EQ(QXR_ERROR_INVALID_PARAMETER, run(3, &empty));
    EXPECT_EQ(2u, reports.Count(QXR_ERROR_INVALID_PARAMETER, kWriterPath));

    vos::SetAllocFailHook([](size_t size) { return size == 1024; });
    CCmdBase plain(0);
    EXPECT_EQ(QXR_ERROR_OUT_OF_MEMORY, run(3, &plain));
    vos::SetAllocFailHook(nullptr);
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_OUT_OF_MEMORY, kWriterPath));

    release.set_value();
    holder.join();
    EXPECT_TRUE(bench.Usb().Written().empty());
    EXPECT_TRUE(reports.Traces().empty());
    EXPECT_EQ(3u, reports.Reports().size());
}

TEST_F(ExecuteCommandTest, WriterGrowthCarriesLongRequests) {
    RawRequest big(1500);
    CCmdBase response(0);
    ASSERT_EQ(0u, ExecuteCommand(0x30, &big, &response, 0, 0));
    ASSERT_EQ(1u, Device().Requests().size());
    EXPECT_EQ(1501u, Device().Requests()[0].size());
    std::vector<uint8_t> types;
    for (const Bytes& f : bench.Usb().Written())
        if (f[1] != 0x7F) types.push_back(f[1]);
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x80, 0x02, 0x03}), types) << "First, Middle, Last, the ACK of the response";
}

TEST_F(ExecuteCommandTest, AResponseThatCannotBeStoredFailsTheAttempt) {
    Device().SetHandler(vtest::AcceptWith(Bytes(1000, 0x61)));
    CCmdBase request(0);
    ValueResponse response;
    // The response's first fragment (511 bytes) finds no memory, once.
    std::atomic<int> failures{0};
    vos::SetAllocFailHook([&](size_t size) { return size == 511 && failures++ == 0; });
    EXPECT_EQ(QXR_ERROR_OUT_OF_MEMORY, ExecuteCommand(0x40, &request, &response, 0, 0));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_OUT_OF_MEMORY, "Pc/Message/Message"));
    EXPECT_EQ(1u, reports.Reports().size());
    EXPECT_EQ(kStateIdle, g_pMessage->GetState());

    // With a retry the second attempt gets the whole response.
    failures = 0;
    response.Value = 0;
    EXPECT_EQ(0u, ExecuteCommand(0x40, &request, &response, 1, 0));
    EXPECT_EQ(0x61616161u, response.Value);
    EXPECT_EQ(3u, Device().Requests().size());
}

#if !defined(_WIN32)
TEST_F(ExecuteCommandTest, ALinkThatNeverAnswersEndsEveryAttempt) {
    vos::OsSetClockRate(10);
    bench.Usb().SetSilent(true);
    CCmdBase request(0), response(0);
    EXPECT_EQ(QXR_ERROR_SEND_TIMEOUT, ExecuteCommand(1, &request, &response, 1, 0));
    EXPECT_EQ(2u, reports.Count(QXR_ERROR_SEND_TIMEOUT, "Pc/Message/Message"));
    // The layer is left ready: the next command goes through.
    vos::OsSetClockRate(1);
    bench.Usb().SetSilent(false);
    EXPECT_EQ(0u, ExecuteCommand(1, &request, &response, 0, 0));
}
#endif

TEST_F(ExecuteCommandTest, TwoFirstCallsAtOnceBuildOneMessageLayerAndFrameController) {
    for (int round = 0; round < 5; ++round) {
        ReleaseDeviceLink();
        const size_t before = bench.Constructed().size();
        std::atomic<int> ready{0};
        std::atomic<bool> go{false};
        auto call = [&] {
            ++ready;
            while (!go) std::this_thread::yield();
            CCmdBase request(0), response(0);
            return ExecuteCommand(2, &request, &response, 0, 0);
        };
        auto a = std::async(std::launch::async, call);
        auto b = std::async(std::launch::async, call);
        while (ready < 2) std::this_thread::yield();
        go = true;
        EXPECT_EQ(0u, a.get());
        EXPECT_EQ(0u, b.get());
        auto built = bench.Constructed();
        ASSERT_EQ(before + 1, built.size()) << "one frame controller, one link";
        EXPECT_EQ(g_pMessage, bench.Messages().back());
    }
}

}  // namespace
