// Vantro.reg, the J2534 registration, imported with regedit and read back the
// way a 32-bit J2534 application finds its devices: the subkeys of
// HKLM\SOFTWARE\PassThruSupport.04.04 in the 32-bit view of the registry
// (WOW6432Node on 64-bit Windows). Importing needs an administrator on
// Windows, so the test runs under wine (the build's own prefix) or when
// VANTRO_TEST_REGISTRY=1 says the machine may be changed; the keys are
// removed again at the end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Tests/Windows/WinSupport.h"

namespace {

const char kPassThruKey[] = "SOFTWARE\\PassThruSupport.04.04";

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool Regedit(const std::string& arguments) {
    std::string line = "regedit.exe " + arguments;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    const bool ended = WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(pi.hProcess, 1);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ended && code == 0;
}

std::string ReadString(HKEY key, const char* name) {
    char value[512];
    DWORD size = sizeof value, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return "<missing>";
    return std::string(value, size && value[size - 1] == 0 ? size - 1 : size);
}

DWORD ReadDword(HKEY key, const char* name) {
    DWORD value = 0xFFFFFFFF, size = sizeof value, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0xFFFFFFFF;
    return value;
}

// The device subkey whose "Vendor" is Vantro, in the given registry view.
std::string FindVantro(REGSAM view, HKEY* device) {
    *device = nullptr;
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPassThruKey, 0, KEY_READ | view, &root) != ERROR_SUCCESS) return "";
    std::string found;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(root, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY sub = nullptr;
        if (RegOpenKeyExA(root, name, 0, KEY_READ | view, &sub) != ERROR_SUCCESS) continue;
        if (ReadString(sub, "Vendor") == "Vantro") {
            found = name;
            *device = sub;
            break;
        }
        RegCloseKey(sub);
    }
    RegCloseKey(root);
    return found;
}

void RemoveVantro(REGSAM view) {
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPassThruKey, 0, KEY_ALL_ACCESS | view, &root) != ERROR_SUCCESS) return;
    RegDeleteKeyExA(root, "Vantro", view, 0);
    RegCloseKey(root);
}

TEST(WinRegistration, RegFileRegistersTheDllForJ2534Applications) {
    const char* allow = std::getenv("VANTRO_TEST_REGISTRY");
    if (!UnderWine() && !(allow && std::string(allow) == "1"))
        GTEST_SKIP() << "imports into HKLM: runs under wine, or on Windows with VANTRO_TEST_REGISTRY=1 as administrator";
    const std::string reg = wintest::ExeDirectory() + "Vantro.reg";
    ASSERT_NE(GetFileAttributesA(reg.c_str()), INVALID_FILE_ATTRIBUTES) << reg;
    const std::string text = wintest::ReadWholeFile(reg);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);

    ASSERT_TRUE(Regedit("/S \"" + reg + "\""));
    // A 32-bit application on 64-bit Windows sees the 32-bit view; this is a
    // 64-bit process and asks for it. The 64-bit view has its twin.
    for (REGSAM view : {static_cast<REGSAM>(KEY_WOW64_32KEY), static_cast<REGSAM>(KEY_WOW64_64KEY)}) {
        SCOPED_TRACE(view == KEY_WOW64_32KEY ? "32-bit view" : "64-bit view");
        HKEY device = nullptr;
        ASSERT_EQ(FindVantro(view, &device), "Vantro");
        EXPECT_EQ(ReadString(device, "Name"), "Vantro");
        EXPECT_EQ(ReadString(device, "APIVersion"), "04.04");
        const std::string library = ReadString(device, "FunctionLibrary");
        EXPECT_EQ(library.substr(1, 2), ":\\") << library;
        EXPECT_EQ(library.size() > 13 ? library.substr(library.size() - 13) : library, "\\Vantro32.dll");
        const std::string config = ReadString(device, "ConfigApplication");
        EXPECT_EQ(config.substr(0, library.size() - 12), library.substr(0, library.size() - 12)) << config;
        EXPECT_EQ(config.size() > 11 ? config.substr(config.size() - 11) : config, "\\vantro.exe");
        EXPECT_EQ(ReadDword(device, "CAN"), 1u);
        EXPECT_EQ(ReadDword(device, "ISO15765"), 1u);
        EXPECT_EQ(ReadDword(device, "ISO9141"), 1u);
        EXPECT_EQ(ReadDword(device, "ISO14230"), 1u);
        EXPECT_EQ(ReadDword(device, "J1850VPW"), 0u);
        EXPECT_EQ(ReadDword(device, "J1850PWM"), 0u);
        RegCloseKey(device);
    }
    RemoveVantro(KEY_WOW64_32KEY);
    RemoveVantro(KEY_WOW64_64KEY);
    HKEY device = nullptr;
    EXPECT_EQ(FindVantro(KEY_WOW64_32KEY, &device), "");
}

}  // namespace
