// The examples of docs/USAGE.md, compiled and run against the simulated
// device on the simulated USB bus. The examples stand below exactly as the
// document shows them (a test checks that), so the document's code builds
// and works.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Tests/Support/HostFiles.h"
#include "Tools/SimHost.h"

// ---- docs/USAGE.md: "A J2534 session" ---------------------------------------------------
#include <stdio.h>
#include <string.h>
#include "vantro/vantro.h"

/* Reads the VIN of the engine ECU over ISO 15765 (OBD-II service 09, PID 02).
 * Returns STATUS_NOERROR with the 17 characters in vin, or the J2534 status
 * of the step that failed. */
static uint32_t read_vin(char vin[18])
{
    uint32_t device = 0, channel = 0, filter = 0, count, i, status;
    PASSTHRU_MSG mask, pattern, flow, request, answer;
    char text[80];

    status = PassThruOpen(NULL, &device);
    if (status != STATUS_NOERROR)
        return status;
    status = PassThruConnect(device, ISO15765, 0, 500000, &channel);
    if (status != STATUS_NOERROR) {
        PassThruClose(device);
        return status;
    }

    /* Receive the engine ECU's answers on 7E8; the device answers its first
     * frames with flow control from 7E0 and joins the frames. */
    memset(&mask, 0, sizeof mask);
    mask.ProtocolID = ISO15765;
    mask.DataSize = 4;
    memset(mask.Data, 0xFF, 4);
    pattern = mask;
    pattern.Data[0] = 0x00;
    pattern.Data[1] = 0x00;
    pattern.Data[2] = 0x07;
    pattern.Data[3] = 0xE8;
    flow = pattern;
    flow.Data[3] = 0xE0;
    flow.TxFlags = ISO15765_FRAME_PAD;
    status = PassThruStartMsgFilter(channel, FLOW_CONTROL_FILTER, &mask, &pattern, &flow, &filter);

    if (status == STATUS_NOERROR) {
        request = flow; /* to 7E0, padded */
        request.DataSize = 6;
        request.Data[4] = 0x09;
        request.Data[5] = 0x02;
        count = 1;
        status = PassThruWriteMsgs(channel, &request, &count, 500);
    }
    /* Indications (transmit done, first frame received) come before the answer. */
    for (i = 0; status == STATUS_NOERROR && i < 10; ++i) {
        count = 1;
        status = PassThruReadMsgs(channel, &answer, &count, 1000);
        if (status == STATUS_NOERROR && answer.RxStatus == 0 && answer.DataSize >= 7 + 17 &&
            answer.Data[4] == 0x49 && answer.Data[5] == 0x02) {
            memcpy(vin, answer.Data + 7, 17);
            vin[17] = '\0';
            break;
        }
    }
    if (status == STATUS_NOERROR && i == 10)
        status = ERR_TIMEOUT;
    if (status != STATUS_NOERROR) {
        PassThruGetLastError(text);
        fprintf(stderr, "J2534 status %u: %s\n", (unsigned)status, text);
    }
    PassThruDisconnect(channel);
    PassThruClose(device);
    return status;
}

// ---- docs/USAGE.md: "Device services" ----------------------------------------------------
#include <cstdio>
#include <string>
#include "vantro/vantro.h"

// The library's texts are UTF-16 (VWCHAR); ASCII is enough here.
static std::basic_string<VWCHAR> Wide(const char* text) {
    std::basic_string<VWCHAR> out;
    while (*text) out.push_back(static_cast<VWCHAR>(static_cast<unsigned char>(*text++)));
    return out;
}

// Shows the supply voltage, lists \Data, copies a file to the PC and keeps
// a counter in the device's registry. Returns 0 on success.
static int ShowDevice(const char* pcCopy) {
    uint16_t millivolts = 0;
    uint32_t rc = KovGetVoltage(0, &millivolts);
    if (rc != 0) {  // a library code (vantro_errors.h) or the device's result
        std::fprintf(stderr, "KovGetVoltage: 0x%08X\n", rc);
        return 1;
    }
    std::printf("supply %.2f V\n", millivolts / 1000.0);

    uint32_t count = 0;
    VFIND_DATAW* list = nullptr;
    if (KovDir(Wide("\\Data\\*").c_str(), &count, &list)) {
        for (uint32_t i = 0; i < count; ++i) {
            std::string name;
            for (const VWCHAR* c = list[i].cFileName; *c; ++c) name.push_back(static_cast<char>(*c));
            std::printf("%10u  %s\n", list[i].nFileSizeLow, name.c_str());
        }
        KovDirFree();
    }

    if (!KovGetFile(Wide("\\Data\\trip-0001.bin").c_str(), pcCopy)) {
        std::fprintf(stderr, "KovGetFile failed\n");
        return 1;
    }

    uint32_t key = 0, runs = 0, type = 0, size = sizeof runs;
    rc = KovRegCreateKeyEx(VANTRO_HKEY_LOCAL_MACHINE, Wide("Software\\Vantro").c_str(), 0, Wide("").c_str(), 0, 0,
                           nullptr, &key, nullptr);
    if (rc != 0) return 1;
    if (KovRegQueryValueEx(key, Wide("Runs").c_str(), nullptr, &type, reinterpret_cast<uint8_t*>(&runs), &size) != 0)
        runs = 0;  // 2: not there yet
    ++runs;
    rc = KovRegSetValueEx(key, Wide("Runs").c_str(), 0, VANTRO_REG_DWORD, reinterpret_cast<const uint8_t*>(&runs),
                          sizeof runs);
    KovRegCloseKey(key);
    std::printf("run %u\n", runs);

    KovDisconnect();  // closes the link; the next call opens it again
    return rc == 0 ? 0 : 1;
}

// ---- the tests --------------------------------------------------------------------------

namespace {

namespace fs = std::filesystem;

using vtest::ReadText;

// The fenced code blocks of a Markdown text that follow a line
// "<!-- example -->".
std::vector<std::string> MarkedExamples(const std::string& markdown) {
    std::vector<std::string> blocks;
    const std::string marker = "<!-- example -->\n```";
    size_t at = 0;
    while ((at = markdown.find(marker, at)) != std::string::npos) {
        const size_t start = markdown.find('\n', at + marker.size());
        const size_t end = markdown.find("\n```", start);
        if (start == std::string::npos || end == std::string::npos) break;
        blocks.push_back(markdown.substr(start + 1, end - start));
        at = end;
    }
    return blocks;
}

class DocExamplesTest : public ::testing::Test {
protected:
    void SetUp() override {
        cli::SimOptions options;
        options.liveEngine = false;
        std::string error;
        ASSERT_TRUE(host.Start(options, &error)) << error;
    }
    void TearDown() override { host.Stop(); }
    cli::SimHost host;
};

TEST_F(DocExamplesTest, TheJ2534ExampleReadsTheVin) {
    char vin[18] = {0};
    ASSERT_EQ(read_vin(vin), static_cast<uint32_t>(STATUS_NOERROR));
    EXPECT_STREQ(vin, "1VNTR5SM7PA000042");
}

TEST_F(DocExamplesTest, TheDeviceServicesExampleCopiesAndCounts) {
    const fs::path copy = fs::path(host.RootDir()).parent_path() / "copy.bin";
    ASSERT_EQ(ShowDevice(copy.string().c_str()), 0);
    EXPECT_EQ(fs::file_size(copy), 256u * 1024);
    EXPECT_EQ(ReadText(copy), ReadText(fs::path(host.RootDir()) / "Data" / "trip-0001.bin"));
    ASSERT_EQ(ShowDevice(copy.string().c_str()), 0);  // the counter goes on: 2
    EXPECT_EQ(KovGetCommDevice(nullptr), 0xa00d0025u);
}

TEST(DocExamples, TheDocumentShowsExactlyTheseExamples) {
    const fs::path self = fs::path(__FILE__);
    const fs::path usage = self.parent_path().parent_path().parent_path() / "docs" / "USAGE.md";
    if (!self.is_absolute() || !fs::exists(usage)) GTEST_SKIP() << "the sources are not at " << usage;
    const std::vector<std::string> examples = MarkedExamples(ReadText(usage));
    ASSERT_EQ(examples.size(), 2u);
    const std::string source = ReadText(self);
    for (const std::string& example : examples)
        EXPECT_NE(source.find(example), std::string::npos) << "docs/USAGE.md shows code this test does not build:\n"
                                                          << example;
}

}  // namespace
