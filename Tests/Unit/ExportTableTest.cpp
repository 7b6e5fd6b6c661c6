// The built libraries export exactly the table: every entry under its name,
// nothing else, and the J2534 04.04 functions at ordinals 1 to 14.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Pc/MsgCtrl/ExportTable.h"
#include "Tests/Support/PeExports.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

std::vector<ExportEntry> Table() {
    size_t n = 0;
    const ExportEntry* t = GetExportTable(&n);
    return std::vector<ExportEntry>(t, t + n);
}

TEST(ExportTable, HasTheFamiliesShapeAndNoDuplicates) {
    std::set<std::string> names;
    std::set<uint32_t> ordinals;
    for (const auto& e : Table()) {
        EXPECT_TRUE(names.insert(e.cName).second) << "duplicate " << e.cName;
        if (e.ordinal) {
            EXPECT_TRUE(ordinals.insert(e.ordinal).second) << e.cName;
        }
        EXPECT_EQ(e.ordinal != 0, !e.decorated) << e.cName;
    }
    for (uint32_t o : ordinals) EXPECT_TRUE(o >= 1 && o <= 14);
}

TEST(ExportTable, J2534OrdinalsFollowTheStandardsOrder) {
    const char* order[] = {"PassThruOpen", "PassThruClose", "PassThruConnect", "PassThruDisconnect",
                           "PassThruReadMsgs", "PassThruWriteMsgs", "PassThruStartPeriodicMsg",
                           "PassThruStopPeriodicMsg", "PassThruStartMsgFilter", "PassThruStopMsgFilter",
                           "PassThruSetProgrammingVoltage", "PassThruReadVersion", "PassThruGetLastError",
                           "PassThruIoctl"};
    std::map<std::string, uint32_t> byName;
    for (const auto& e : Table())
        if (!e.decorated) byName[e.cName] = e.ordinal;
    if (byName.empty()) GTEST_SKIP() << "no J2534 04.04 exports in this build";
    for (uint32_t i = 0; i < 14; ++i) EXPECT_EQ(byName[order[i]], i + 1) << order[i];
}

#if !defined(_WIN32)
TEST(ExportTable, LinuxLibraryExportsExactlyTheTable) {
    void* lib = dlopen(VANTRO_SHARED_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const auto& e : Table()) EXPECT_NE(dlsym(lib, e.cName), nullptr) << e.cName;
    dlclose(lib);

    // Nothing else: the dynamic symbols defined by the library.
    std::string cmd = std::string("nm -D --defined-only ") + VANTRO_SHARED_LIB_PATH + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::set<std::string> table;
    for (const auto& e : Table()) table.insert(e.cName);
    char line[512];
    std::vector<std::string> extra;
    while (std::fgets(line, sizeof line, p)) {
        char addr[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", addr, type, name) != 3) continue;
        if (type[0] != 'T' && type[0] != 'D' && type[0] != 'B' && type[0] != 'W' && type[0] != 'R') continue;
        std::string n = name;
        if (n.find('@') != std::string::npos) n = n.substr(0, n.find('@'));
        if (!table.count(n)) extra.push_back(n);
    }
    pclose(p);
    EXPECT_TRUE(extra.empty()) << "unexpected export " << (extra.empty() ? "" : extra.front());
}

TEST(ExportTable, WindowsProductDllMatchesTheTable) {
    const char* path = std::getenv("VANTRO_WIN32_DLL");
    if (!path) GTEST_SKIP() << "VANTRO_WIN32_DLL not set (scripts/test-all.sh sets it after the win32 build)";
    std::vector<vtest::PeExport> exports;
    std::string error;
    ASSERT_TRUE(vtest::ReadPeExports(path, &exports, &error)) << error;
    std::map<std::string, uint32_t> byName;
    for (const auto& x : exports) byName[x.name] = x.ordinal;
    std::set<std::string> expected;
    for (const auto& e : Table()) {
        std::string name = WindowsExportName(e);
        expected.insert(name);
        auto it = byName.find(name);
        EXPECT_NE(it, byName.end()) << "missing " << name;
        if (it != byName.end() && e.ordinal) {
            EXPECT_EQ(it->second, e.ordinal) << name;
        }
    }
    for (const auto& x : exports) EXPECT_TRUE(expected.count(x.name)) << "extra export " << x.name;
    EXPECT_EQ(exports.size(), expected.size());
}
#else
TEST(ExportTable, WindowsLibraryResolvesEveryName) {
    HMODULE lib = LoadLibraryA("Vantro64.dll");
    ASSERT_NE(lib, nullptr);
    for (const auto& e : Table()) {
        std::string name = WindowsExportName(e);
        EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(lib, name.c_str())), nullptr) << name;
    }
    FreeLibrary(lib);
}
#endif

}  // namespace
