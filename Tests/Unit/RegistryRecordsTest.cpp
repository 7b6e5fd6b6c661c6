// Device registry: the records' wire bytes and the exports against a scripted
// device (request bytes, which outputs are written for which result, three
// attempts per command).
#include <gtest/gtest.h>

#include <cstring>

#include "Tessra/CmdListRegistry.h"
#include "Tests/Unit/DeviceServiceBytes.h"
#include "vantro/vantro.h"

namespace {

using namespace svctest;

constexpr uint32_t kHklm = 0x80000002;

TEST(RegistryRecords, RequestsCarryKeyNamesAndData) {
    RegCreateKeyExRequest create;
    create.Key = kHklm;
    create.SubKey = W(u"Ab");
    create.Class = W(u"");
    EXPECT_EQ(Encode(51, create),
              (Bytes{0x33, 0x02, 0x00, 0x00, 0x80, 6, 0, 0, 0, 'A', 0, 'b', 0, 0, 0, 2, 0, 0, 0, 0, 0}));

    RegQueryValueExRequest query;
    query.Key = 0x1000;
    query.ValueName = W(u"V");
    query.DataSize = 0x10;
    EXPECT_EQ(Encode(55, query), (Bytes{0x37, 0x00, 0x10, 0, 0, 4, 0, 0, 0, 'V', 0, 0, 0, 0x10, 0, 0, 0}));

    RegSetValueExRequest set;
    set.Key = 0x1000;
    set.ValueName = W(u"V");
    set.Type = 4;
    const uint8_t dword[] = {1, 2, 3, 4};
    set.Data.SetAt(dword, 4);
    EXPECT_EQ(Encode(56, set),
              (Bytes{0x38, 0x00, 0x10, 0, 0, 4, 0, 0, 0, 'V', 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 1, 2, 3, 4}));

    RegCloseKeyRequest close;
    close.Key = 0x1004;
    EXPECT_EQ(Encode(54, close), (Bytes{0x36, 0x04, 0x10, 0, 0}));
    RegFlushKeyRequest flush;
    flush.Key = kHklm;
    EXPECT_EQ(Encode(58, flush), (Bytes{0x3A, 0x02, 0, 0, 0x80}));
}

TEST(RegistryRecords, QueryResponseReadsTypeDataAndRequiredSize) {
    RegQueryValueExResponse response;
    uint32_t unread = 99;
    ASSERT_EQ(Decode(Accepted(0x37, Wire().u32(234).u32(3).buf({}).u32(0x200)), response, &unread), 0u);
    EXPECT_EQ(unread, 0u);
    EXPECT_EQ(response.Result, 234u);
    EXPECT_EQ(response.Type, 3u);
    EXPECT_EQ(response.Data.GetLength(), 0u);
    EXPECT_EQ(response.RequiredSize, 0x200u);
}

TEST(RegistryExports, CreateKeyStoresKeyAndDispositionOnlyOnSuccess) {
    QueueDevice device;
    device.Answer(Accepted(0x33, Wire().u32(0).u32(0x1000).u32(1)));
    device.Answer(Accepted(0x33, Wire().u32(0).u32(0x1004).u32(2)));
    device.Answer(Accepted(0x33, Wire().u32(5).u32(0x1008).u32(1)));
    uint32_t key = 0, disposition = 0;
    EXPECT_EQ(KovRegCreateKeyEx(kHklm, W(u"Software\\X"), 7, W(u"cls"), 1, 0xF003F, nullptr, &key, &disposition), 0u);
    EXPECT_EQ(key, 0x1000u);
    EXPECT_EQ(disposition, 1u);
    // Reserved, Options, SamDesired and the security attributes stay on the PC.
    EXPECT_EQ(device.Requests()[0], (Bytes)Wire().u8(0x33).u32(kHklm).wstr(u"Software\\X").wstr(u"cls"));

    // A null Disposition: only the key.
    EXPECT_EQ(KovRegCreateKeyEx(kHklm, W(u"S"), 0, W(u""), 0, 0, nullptr, &key, nullptr), 0u);
    EXPECT_EQ(key, 0x1004u);

    // A device error: nothing written.
    disposition = 0xCC;
    EXPECT_EQ(KovRegCreateKeyEx(kHklm, W(u"S"), 0, W(u""), 0, 0, nullptr, &key, &disposition), 5u);
    EXPECT_EQ(key, 0x1004u);
    EXPECT_EQ(disposition, 0xCCu);
}

TEST(RegistryExports, OpenKeyLeavesTheKeyUntouchedOnFailure) {
    QueueDevice device;
    device.Answer(Accepted(0x34, Wire().u32(2).u32(0x1234)));
    device.Answer(Accepted(0x34, Wire().u32(0).u32(0x1010)));
    uint32_t key = 0xCCCC;
    EXPECT_EQ(KovRegOpenKeyEx(kHklm, W(u"Missing"), 0, 0x20019, &key), 2u);
    EXPECT_EQ(key, 0xCCCCu);
    EXPECT_EQ(KovRegOpenKeyEx(kHklm, W(u"Software"), 0, 0x20019, &key), 0u);
    EXPECT_EQ(key, 0x1010u);
    EXPECT_EQ(device.Requests()[1], (Bytes)Wire().u8(0x34).u32(kHklm).wstr(u"Software"));
}

TEST(RegistryExports, QueryValueTooSmallGivesTheRequiredSizeOnly) {
    QueueDevice device;
    device.Answer(Accepted(0x37, Wire().u32(234).u32(1).buf({}).u32(40)));
    uint32_t type = 0xCC, size = 8;
    uint8_t data[8];
    std::memset(data, 0xCC, sizeof data);
    EXPECT_EQ(KovRegQueryValueEx(0x1000, W(u"Name"), nullptr, &type, data, &size), 234u);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(type, 0xCCu);
    EXPECT_EQ(data[0], 0xCC);
    EXPECT_EQ(device.Requests()[0], (Bytes)Wire().u8(0x37).u32(0x1000).wstr(u"Name").u32(8));
}

TEST(RegistryExports, QueryValueSuccessCopiesTypeDataAndLength) {
    QueueDevice device;
    device.Answer(Accepted(0x37, Wire().u32(0).u32(4).buf({0x78, 0x56, 0x34, 0x12}).u32(4)));
    uint32_t type = 0, size = 16;
    uint8_t data[16];
    std::memset(data, 0xCC, sizeof data);
    EXPECT_EQ(KovRegQueryValueEx(0x1000, W(u"D"), nullptr, &type, data, &size), 0u);
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(Bytes(data, data + 5), (Bytes{0x78, 0x56, 0x34, 0x12, 0xCC}));

    // A null Data learns the length; a null DataSize sends a size of 0.
    size = 100;
    EXPECT_EQ(KovRegQueryValueEx(0x1000, W(u"D"), nullptr, nullptr, nullptr, &size), 0u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(KovRegQueryValueEx(0x1000, W(u"D"), nullptr, &type, nullptr, nullptr), 0u);
    auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1], (Bytes)Wire().u8(0x37).u32(0x1000).wstr(u"D").u32(100));
    EXPECT_EQ(requests[2], (Bytes)Wire().u8(0x37).u32(0x1000).wstr(u"D").u32(0));
}

TEST(RegistryExports, QueryValueNeverCopiesMoreThanTheSizeItSent) {
    QueueDevice device;
    device.Answer(Accepted(0x37, Wire().u32(0).u32(3).buf({1, 2, 3, 4, 5, 6}).u32(6)));
    device.Answer(Accepted(0x37, Wire().u32(2).u32(3).buf({1}).u32(1)));
    uint32_t type = 0xCC, size = 4;
    uint8_t data[8];
    std::memset(data, 0xCC, sizeof data);
    EXPECT_EQ(KovRegQueryValueEx(0x1000, W(u"B"), nullptr, &type, data, &size), 234u);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, 0xCCu);
    EXPECT_EQ(data[0], 0xCC);
    // Any other result writes nothing.
    size = 4;
    EXPECT_EQ(KovRegQueryValueEx(0x1000, W(u"B"), nullptr, &type, data, &size), 2u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, 0xCCu);
    EXPECT_EQ(data[0], 0xCC);
}

TEST(RegistryExports, SetDeleteCloseAndFlushSendTheirFields) {
    QueueDevice device;
    device.Answer(Accepted(0x38, Wire().u32(0)));
    device.Answer(Accepted(0x39, Wire().u32(2)));
    device.Answer(Accepted(0x35, Wire().u32(0)));
    device.Answer(Accepted(0x3A, Wire().u32(0)));
    device.Answer(Accepted(0x36, Wire().u32(6)));
    const uint8_t text[] = {'h', 0, 'i', 0, 0, 0};
    EXPECT_EQ(KovRegSetValueEx(0x1000, W(u"Greeting"), 9, 1, text, sizeof text), 0u);
    EXPECT_EQ(KovRegDeleteValue(0x1000, W(u"Old")), 2u);
    EXPECT_EQ(KovRegDeleteKey(kHklm, W(u"Software\\X")), 0u);
    EXPECT_EQ(KovRegFlushKey(kHklm), 0u);
    EXPECT_EQ(KovRegCloseKey(0x1000), 6u);
    auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0],
              (Bytes)Wire().u8(0x38).u32(0x1000).wstr(u"Greeting").u32(1).buf({'h', 0, 'i', 0, 0, 0}));
    EXPECT_EQ(requests[1], (Bytes)Wire().u8(0x39).u32(0x1000).wstr(u"Old"));
    EXPECT_EQ(requests[2], (Bytes)Wire().u8(0x35).u32(kHklm).wstr(u"Software\\X"));
    EXPECT_EQ(requests[3], (Bytes)Wire().u8(0x3A).u32(kHklm));
    EXPECT_EQ(requests[4], (Bytes)Wire().u8(0x36).u32(0x1000));
}

TEST(RegistryExports, EveryCommandIsTriedThreeTimes) {
    QueueDevice device;
    device.Answer(Refused(0x36, kRefusal));
    EXPECT_EQ(KovRegCloseKey(0x1000), kRefusal);
    EXPECT_EQ(device.Requests().size(), 3u);
    uint32_t key = 0xCC;
    EXPECT_EQ(KovRegOpenKeyEx(kHklm, W(u"S"), 0, 0, &key), kRefusal);
    EXPECT_EQ(key, 0xCCu);
    EXPECT_EQ(device.Requests().size(), 6u);
}

}  // namespace
