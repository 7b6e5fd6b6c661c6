// The J2534 numbers as the simulated device knows them. The simulator keeps
// its own copy (it shares no header with the library's pass-thru side), so a
// wrong number on one side shows up as a failing exchange instead of hiding
// behind the same mistake on both.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {
namespace pt {

// Protocols.
constexpr uint32_t kJ1850Vpw = 1;
constexpr uint32_t kJ1850Pwm = 2;
constexpr uint32_t kIso9141 = 3;
constexpr uint32_t kIso14230 = 4;
constexpr uint32_t kCan = 5;
constexpr uint32_t kIso15765 = 6;

// Statuses.
constexpr uint32_t kNoError = 0x00;
constexpr uint32_t kErrNotSupported = 0x01;
constexpr uint32_t kErrInvalidChannelId = 0x02;
constexpr uint32_t kErrInvalidProtocolId = 0x03;
constexpr uint32_t kErrNullParameter = 0x04;
constexpr uint32_t kErrInvalidIoctlValue = 0x05;
constexpr uint32_t kErrInvalidFlags = 0x06;
constexpr uint32_t kErrFailed = 0x07;
constexpr uint32_t kErrDeviceNotConnected = 0x08;
constexpr uint32_t kErrTimeout = 0x09;
constexpr uint32_t kErrInvalidMsg = 0x0A;
constexpr uint32_t kErrInvalidTimeInterval = 0x0B;
constexpr uint32_t kErrExceededLimit = 0x0C;
constexpr uint32_t kErrInvalidMsgId = 0x0D;
constexpr uint32_t kErrDeviceInUse = 0x0E;
constexpr uint32_t kErrInvalidIoctlId = 0x0F;
constexpr uint32_t kErrBufferEmpty = 0x10;
constexpr uint32_t kErrBufferFull = 0x11;
constexpr uint32_t kErrBufferOverflow = 0x12;
constexpr uint32_t kErrPinInvalid = 0x13;
constexpr uint32_t kErrChannelInUse = 0x14;
constexpr uint32_t kErrMsgProtocolId = 0x15;
constexpr uint32_t kErrInvalidFilterId = 0x16;
constexpr uint32_t kErrNoFlowControl = 0x17;
constexpr uint32_t kErrNotUnique = 0x18;
constexpr uint32_t kErrInvalidBaudrate = 0x19;
constexpr uint32_t kErrInvalidDeviceId = 0x1A;

// Connect flags and TxFlags.
constexpr uint32_t kFlagCan29Bit = 0x0100;
constexpr uint32_t kFlagIso9141NoChecksum = 0x0200;
constexpr uint32_t kFlagCanIdBoth = 0x0800;
constexpr uint32_t kFlagIso9141KLineOnly = 0x1000;
constexpr uint32_t kTxIso15765FramePad = 0x0040;
constexpr uint32_t kTxIso15765AddrType = 0x0080;

// RxStatus.
constexpr uint32_t kRxTxMsgType = 0x0001;      // a looped-back transmission
constexpr uint32_t kRxStartOfMessage = 0x0002; // first frame of a segmented message arrived
constexpr uint32_t kRxTxIndication = 0x0008;   // a transmission is done
constexpr uint32_t kRxCan29Bit = 0x0100;

// Filters.
constexpr uint32_t kPassFilter = 1;
constexpr uint32_t kBlockFilter = 2;
constexpr uint32_t kFlowControlFilter = 3;

// Ioctl IDs.
constexpr uint32_t kGetConfig = 0x01;
constexpr uint32_t kSetConfig = 0x02;
constexpr uint32_t kReadVbatt = 0x03;
constexpr uint32_t kFiveBaudInit = 0x04;
constexpr uint32_t kFastInit = 0x05;
constexpr uint32_t kClearTxBuffer = 0x07;
constexpr uint32_t kClearRxBuffer = 0x08;
constexpr uint32_t kClearPeriodicMsgs = 0x09;
constexpr uint32_t kClearMsgFilters = 0x0A;
constexpr uint32_t kClearFunctMsgLookupTable = 0x0B;
constexpr uint32_t kAddToFunctMsgLookupTable = 0x0C;
constexpr uint32_t kDeleteFromFunctMsgLookupTable = 0x0D;
constexpr uint32_t kReadProgVoltage = 0x0E;

// Configuration parameters.
constexpr uint32_t kDataRate = 0x01;
constexpr uint32_t kLoopback = 0x03;
constexpr uint32_t kNodeAddress = 0x04;
constexpr uint32_t kNetworkLine = 0x05;
constexpr uint32_t kP1Min = 0x06;
constexpr uint32_t kP1Max = 0x07;
constexpr uint32_t kP2Min = 0x08;
constexpr uint32_t kP2Max = 0x09;
constexpr uint32_t kP3Min = 0x0A;
constexpr uint32_t kP3Max = 0x0B;
constexpr uint32_t kP4Min = 0x0C;
constexpr uint32_t kP4Max = 0x0D;
constexpr uint32_t kW1 = 0x0E;
constexpr uint32_t kW2 = 0x0F;
constexpr uint32_t kW3 = 0x10;
constexpr uint32_t kW4 = 0x11;
constexpr uint32_t kW5 = 0x12;
constexpr uint32_t kTidle = 0x13;
constexpr uint32_t kTinil = 0x14;
constexpr uint32_t kTwup = 0x15;
constexpr uint32_t kParity = 0x16;
constexpr uint32_t kBitSamplePoint = 0x17;
constexpr uint32_t kSyncJumpWidth = 0x18;
constexpr uint32_t kW0 = 0x19;
constexpr uint32_t kT1Max = 0x1A;
constexpr uint32_t kT2Max = 0x1B;
constexpr uint32_t kT4Max = 0x1C;
constexpr uint32_t kT5Max = 0x1D;
constexpr uint32_t kIso15765Bs = 0x1E;
constexpr uint32_t kIso15765Stmin = 0x1F;
constexpr uint32_t kDataBits = 0x20;
constexpr uint32_t kFiveBaudMod = 0x21;
constexpr uint32_t kBsTx = 0x22;
constexpr uint32_t kStminTx = 0x23;
constexpr uint32_t kT3Max = 0x24;
constexpr uint32_t kIso15765WftMax = 0x25;

// Programming voltage.
constexpr uint32_t kShortToGround = 0xFFFFFFFE;
constexpr uint32_t kVoltageOff = 0xFFFFFFFF;

// Sizes.
constexpr uint32_t kMaxData = 4128;         // PASSTHRU_MSG Data
constexpr uint32_t kMaxIsoTpPayload = 4095; // a classic ISO 15765-2 message

}  // namespace pt

// A J2534 message as the device holds it.
struct PtMessage {
    uint32_t protocolId = 0;
    uint32_t rxStatus = 0;
    uint32_t txFlags = 0;
    uint32_t timestamp = 0;  // microseconds
    uint32_t extraDataIndex = 0;
    std::vector<uint8_t> data;
};

// One configuration pair.
struct PtConfig {
    uint32_t parameter = 0;
    uint32_t value = 0;
};

}  // namespace sim
