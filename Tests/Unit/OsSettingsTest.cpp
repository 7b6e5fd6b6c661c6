// The settings file: GetPrivateProfileIntA rules and the file's name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#include "Pc/Os/OsSettings.h"
#include "Tests/Support/HostFiles.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

class OsSettings : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        m_path = fs::temp_directory_path() /
                 ("vantro-settings-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                  "-" + std::to_string(++counter) + ".SETTING");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove(m_path, ec);
        vos::SetSettingsPathOverride("");
    }
    void Write(const std::string& text) { vtest::WriteText(m_path, text); }
    // The value of LOGLEVEL in [LOGSETTING] when the file holds `value`.
    uint32_t Value(const std::string& value, int32_t def = 77) {
        Write("[LOGSETTING]\r\nLOGLEVEL=" + value + "\r\n");
        return Get("LOGSETTING", "LOGLEVEL", def);
    }
    uint32_t Get(const char* section, const char* key, int32_t def = 77) {
        return vos::ProfileGetInt(section, key, def, m_path.string().c_str());
    }
    fs::path m_path;
};

TEST_F(OsSettings, FindsSectionAndKeyWithoutRegardToCaseOrBlanks) {
    Write("; trace settings\n"
          "[Other]\nLOGLEVEL=1\n"
          "  [LogSetting]  \n"
          "  other = 5\n"
          "\tloglevel   =   384   \n"
          "[DEVICEINFO]\nVENDORID=0x1234\n");
    EXPECT_EQ(384u, Get("LOGSETTING", "LOGLEVEL"));
    EXPECT_EQ(384u, Get(" logsetting ", " LogLevel "));
    EXPECT_EQ(5u, Get("LOGSETTING", "OTHER"));
    EXPECT_EQ(1u, Get("other", "loglevel"));
    EXPECT_EQ(0x1234u, Get("DEVICEINFO", "VENDORID"));
}

TEST_F(OsSettings, MissingFileSectionKeyOrValueGivesTheDefault) {
    EXPECT_EQ(77u, Get("LOGSETTING", "LOGLEVEL"));  // no file yet
    Write("LOGLEVEL=3\n[LOGSETTING]\nOTHER=4\nLOGLEVEL\nEMPTY=\nQUOTES=\"\"\n;LOGLEVEL2=9\n[X]\nLOGLEVEL3=6\n");
    EXPECT_EQ(77u, Get("NOSECTION", "OTHER"));
    EXPECT_EQ(77u, Get("LOGSETTING", "NOKEY"));
    EXPECT_EQ(77u, Get("LOGSETTING", "LOGLEVEL"));  // no '=', and the line before any section
    EXPECT_EQ(77u, Get("LOGSETTING", "EMPTY"));
    EXPECT_EQ(77u, Get("LOGSETTING", "QUOTES"));
    EXPECT_EQ(77u, Get("LOGSETTING", "LOGLEVEL2"));  // a comment
    EXPECT_EQ(77u, Get("LOGSETTING", "LOGLEVEL3"));  // another section's key
    EXPECT_EQ(0xFFFFFFFBu, Get("LOGSETTING", "NOKEY", -5));
    EXPECT_EQ(77u, vos::ProfileGetInt("LOGSETTING", "LOGLEVEL", 77, nullptr));
}

TEST_F(OsSettings, ParsesSignsBasesAndStopsAtTheFirstOtherCharacter) {
    EXPECT_EQ(384u, Value("384"));
    EXPECT_EQ(7u, Value("+7"));
    EXPECT_EQ(0xFFFFFFFFu, Value("-1"));
    EXPECT_EQ(0xFFFFFFF0u, Value("-0x10"));
    EXPECT_EQ(31u, Value("0x1F"));
    EXPECT_EQ(31u, Value("0x1fg"));
    EXPECT_EQ(15u, Value("0o17"));
    EXPECT_EQ(5u, Value("0b101"));
    EXPECT_EQ(2u, Value("0b102"));
    EXPECT_EQ(17u, Value("017"));  // a leading zero is still decimal
    EXPECT_EQ(0u, Value("0X10"));  // prefixes are lower case
    EXPECT_EQ(0u, Value("0x"));
    EXPECT_EQ(12u, Value("12abc"));
    EXPECT_EQ(12u, Value("12 ; bits 2 and 3"));
    EXPECT_EQ(0u, Value("abc"));  // a value without digits is 0, not the default
    EXPECT_EQ(0u, Value("--1"));
    EXPECT_EQ(0xFFFFFFFFu, Value("4294967295"));
    EXPECT_EQ(0u, Value("4294967296"));  // wraps at 32 bits
}

TEST_F(OsSettings, StripsMatchingQuotesAndReadsAtMost29Characters) {
    EXPECT_EQ(42u, Value("\"42\""));
    EXPECT_EQ(42u, Value("'42'"));
    EXPECT_EQ(0u, Value("\"42"));  // unmatched: the quote stops the number
    EXPECT_EQ(42u, Value("\" 42 \""));
    // 28 zeros and "12": only "000...01" fits the 30-character buffer.
    EXPECT_EQ(1u, Value(std::string(28, '0') + "12"));
    EXPECT_EQ(12u, Value(std::string(27, '0') + "12"));
}

TEST_F(OsSettings, SkipsAUtf8ByteOrderMark) {
    Write("\xEF\xBB\xBF[LOGSETTING]\nLOGLEVEL=9\n");
    EXPECT_EQ(9u, Get("LOGSETTING", "LOGLEVEL"));
}

#if defined(_WIN32)
// The Windows implementation is the reference: both must agree on every case.
TEST_F(OsSettings, AgreesWithGetPrivateProfileIntA) {
    const char* files[] = {
        "[LOGSETTING]\nLOGLEVEL=384\n",
        "[logsetting]\n  LogLevel  =  -0x10  \n",
        "[LOGSETTING]\nLOGLEVEL=\"12\"\n",
        "[LOGSETTING]\nLOGLEVEL='0b1011'\n",
        "[LOGSETTING]\nLOGLEVEL=\"7\n",
        "[LOGSETTING]\nLOGLEVEL=\n",
        "[LOGSETTING]\nLOGLEVEL\n",
        "[LOGSETTING]\nLOGLEVEL=0X10\n",
        "[LOGSETTING]\nLOGLEVEL=0o19\n",
        "[LOGSETTING]\nLOGLEVEL=12 ;comment\n",
        "[LOGSETTING]\nLOGLEVEL=000000000000000000000000000012\n",
        "[LOGSETTING]\nLOGLEVEL=4294967297\n",
        "[LOGSETTING] trailing\nLOGLEVEL=5\n",
        "[OTHER]\nLOGLEVEL=5\n",
        "LOGLEVEL=5\n[LOGSETTING]\n",
        "\xEF\xBB\xBF[LOGSETTING]\nLOGLEVEL=9\n",
        "[LOGSETTING]\r\nLOGLEVEL = +8 \r\n",
        "[ LOGSETTING ]\nLOGLEVEL=5\n",
        "[LOGSETTING]\nOTHER=1\n[LOGSETTING]\nLOGLEVEL=5\n",
        "[LOGSETTING]\nLOGLEVEL=5\nLOGLEVEL=6\n",
        "[LOGSETTING]\n;LOGLEVEL=5\n",
        "[LOGSETTING]\nLOGLEVEL=\t0b\n",
        "[LOGSETTING]\nLOGLEVEL=-\n",
        "[LOGSETTING]\nLOGLEVEL=''\n",
        "[LOGSETTING]\nLOGLEVEL='\n",
        "[LOGSETTING\nLOGLEVEL=5\n",
        "[LOGSETTING]\nLOG LEVEL=5\nLOGLEVEL =  \"  -3\"\n",
    };
    for (const char* text : files) {
        Write(text);
        UINT expected = GetPrivateProfileIntA("LOGSETTING", "LOGLEVEL", 77, m_path.string().c_str());
        EXPECT_EQ(expected, Get("LOGSETTING", "LOGLEVEL")) << "file: " << text;
    }
}
#endif

TEST(OsSettingsPath, ReplacesTheExtensionWithSETTING) {
    EXPECT_EQ("C:\\Tools\\diag.SETTING", vos::SettingsPathFor("C:\\Tools\\diag.exe"));
    EXPECT_EQ("C:diag.SETTING", vos::SettingsPathFor("C:diag.exe"));
    EXPECT_EQ("/opt/x/diag.SETTING", vos::SettingsPathFor("/opt/x/diag"));
    EXPECT_EQ("/opt/x.y/diag.SETTING", vos::SettingsPathFor("/opt/x.y/diag"));
    EXPECT_EQ("/opt/diag.tar.SETTING", vos::SettingsPathFor("/opt/diag.tar.gz"));
    EXPECT_EQ("/opt/.SETTING", vos::SettingsPathFor("/opt/.hidden"));
    EXPECT_EQ("diag.SETTING", vos::SettingsPathFor("diag"));
}

TEST(OsSettingsPath, FollowsTheHostExecutableUnlessOverridden) {
    std::string exe = vos::HostExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(fs::exists(fs::u8path(exe))) << exe;
    EXPECT_EQ(vos::SettingsPathFor(exe), vos::SettingsFilePath());
    vos::SetSettingsPathOverride("/tmp/other.SETTING");
    EXPECT_EQ("/tmp/other.SETTING", vos::SettingsFilePath());
    vos::SetSettingsPathOverride("");
    EXPECT_EQ(vos::SettingsPathFor(exe), vos::SettingsFilePath());
}

}  // namespace
