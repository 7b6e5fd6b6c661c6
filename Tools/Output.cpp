#include "Tools/Output.h"

#include <cstdio>

#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/ResultCodes.h"
#include "Tools/Text.h"
#include "vantro/j2534.h"

namespace cli {

namespace {

struct LibraryCode {
    uint32_t code;
    int exitCode;
    const char* sentence;
};

const LibraryCode kLibraryCodes[] = {
    {QXR_ERROR_DEVICE_FAILED, kExitDevice, "The device carried out the command and answered that it failed."},
    {QXR_ERROR_FRAME_LENGTH, kExitTransport, "A frame from the device had a length field that does not match its size."},
    {QXR_ERROR_FRAME_CHECKSUM, kExitTransport, "A frame from the device arrived with a wrong checksum."},
    {QXR_ERROR_FRAME_SEQUENCE, kExitTransport, "A middle part of the device's answer arrived out of sequence."},
    {QXR_ERROR_FRAME_FORMAT, kExitTransport, "A frame from the device had wrong delimiters, or a reply was malformed."},
    {QXR_ERROR_NOT_CONNECTED, kExitTransport, "The link to the device is closed, or an unexpected frame arrived."},
    {QXR_ERROR_NO_DATA, kExitTransport, "There was nothing to send, or no frame was pending."},
    {QXR_ERROR_STATE, kExitTransport, "The link was not in a state that allows this step."},
    {QXR_ERROR_NO_LINK, kExitTransport, "There is no link to the device to wait on."},
    {QXR_ERROR_NO_MESSAGE, kExitTransport, "The frame controller has no message layer."},
    {QXR_ERROR_PCIF_TRANSMIT, kExitTransport,
     "No link could send the request: no device answered on USB or on a COM port."},
    {QXR_ERROR_WAIT_RESPONSE, kExitTransport, "Waiting for the device's answer failed."},
    {QXR_ERROR_SEND_TIMEOUT, kExitTransport, "The device did not acknowledge the request within 2 seconds."},
    {QXR_ERROR_RECV_TIMEOUT, kExitTransport, "The device's answer made no progress for 10 seconds."},
    {QXR_ERROR_FILE_OPEN, kExitLocal, "The PC file cannot be opened."},
    {QXR_ERROR_FILE_TRANSFER, kExitTransport,
     "The transfer failed: the retries were used up, the position was lost, or the checksums differ."},
    {QXR_ERROR_FILE_READ, kExitLocal, "The PC file cannot be sized or read."},
    {QXR_ERROR_INVALID_PARAMETER, kExitUsage, "An argument is missing or out of range."},
    {QXR_ERROR_BUFFER_TOO_SMALL, kExitDevice, "The device's answer is larger than the buffer for it."},
    {QXR_ERROR_MUTEX_CREATE, kExitTransport, "The communication mutex that all programs share cannot be created."},
    {QXR_ERROR_MUTEX_WAIT, kExitTransport, "Waiting for the communication mutex failed, or its owner died holding it."},
    {QXR_ERROR_MUTEX_TIMEOUT, kExitTransport, "Another program held the communication mutex too long."},
    {QXR_ERROR_MUTEX_RELEASE, kExitTransport, "Releasing the communication mutex failed."},
    {QXR_ERROR_SHORT_RESPONSE, kExitTransport, "The device's answer was shorter than its record."},
    {QXR_ERROR_PCIF_CONNECT, kExitTransport, "The link to the device cannot be opened: is a device attached?"},
    {QXR_ERROR_OUT_OF_MEMORY, kExitLocal, "Memory cannot be allocated."},
    {QXR_ERROR_NULL_OUTPUT, kExitLocal, "An output pointer was null."},
};

const LibraryCode* FindLibraryCode(uint32_t code) {
    for (const LibraryCode& c : kLibraryCodes)
        if (c.code == code) return &c;
    return nullptr;
}

struct Named {
    uint32_t value;
    const char* name;
    const char* sentence;
};

const Named kWin32Errors[] = {
    {0, "ERROR_SUCCESS", "The operation succeeded."},
    {1, "ERROR_INVALID_FUNCTION", "The device does not know this function."},
    {2, "ERROR_FILE_NOT_FOUND", "The file, key or value does not exist on the device."},
    {3, "ERROR_PATH_NOT_FOUND", "The folder does not exist on the device."},
    {4, "ERROR_TOO_MANY_OPEN_FILES", "The device has too many files open."},
    {5, "ERROR_ACCESS_DENIED", "The device denied access."},
    {6, "ERROR_INVALID_HANDLE", "The handle is not valid on the device."},
    {8, "ERROR_NOT_ENOUGH_MEMORY", "The device ran out of memory."},
    {18, "ERROR_NO_MORE_FILES", "No more files match."},
    {32, "ERROR_SHARING_VIOLATION", "The file is in use on the device."},
    {50, "ERROR_NOT_SUPPORTED", "The device does not support this request."},
    {80, "ERROR_FILE_EXISTS", "The file already exists on the device."},
    {87, "ERROR_INVALID_PARAMETER", "The device found an argument invalid."},
    {112, "ERROR_DISK_FULL", "The device's storage is full."},
    {122, "ERROR_INSUFFICIENT_BUFFER", "The buffer is too small for the device's answer."},
    {123, "ERROR_INVALID_NAME", "The device does not accept this name."},
    {145, "ERROR_DIR_NOT_EMPTY", "The folder is not empty."},
    {183, "ERROR_ALREADY_EXISTS", "It already exists on the device."},
    {234, "ERROR_MORE_DATA", "The answer is larger than the buffer offered."},
    {259, "ERROR_NO_MORE_ITEMS", "There are no more items."},
    {267, "ERROR_DIRECTORY", "The name is not a folder."},
    {1010, "ERROR_BADKEY", "The registry key is not valid."},
    {1018, "ERROR_KEY_DELETED", "The registry key was deleted."},
};

const Named kJ2534Statuses[] = {
    {STATUS_NOERROR, "STATUS_NOERROR", "The function succeeded."},
    {ERR_NOT_SUPPORTED, "ERR_NOT_SUPPORTED", "The device does not support this function."},
    {ERR_INVALID_CHANNEL_ID, "ERR_INVALID_CHANNEL_ID", "The channel is not open."},
    {ERR_INVALID_PROTOCOL_ID, "ERR_INVALID_PROTOCOL_ID", "The protocol is not supported."},
    {ERR_NULL_PARAMETER, "ERR_NULL_PARAMETER", "A required pointer was null."},
    {ERR_INVALID_IOCTL_VALUE, "ERR_INVALID_IOCTL_VALUE", "An Ioctl value is not valid."},
    {ERR_INVALID_FLAGS, "ERR_INVALID_FLAGS", "The flags are not valid."},
    {ERR_FAILED, "ERR_FAILED", "The function failed."},
    {ERR_DEVICE_NOT_CONNECTED, "ERR_DEVICE_NOT_CONNECTED", "The device is not open or did not answer."},
    {ERR_TIMEOUT, "ERR_TIMEOUT", "No message arrived, or not all were sent, in time."},
    {ERR_INVALID_MSG, "ERR_INVALID_MSG", "The message is not valid for the protocol."},
    {ERR_INVALID_TIME_INTERVAL, "ERR_INVALID_TIME_INTERVAL", "The interval is out of range."},
    {ERR_EXCEEDED_LIMIT, "ERR_EXCEEDED_LIMIT", "Too many filters or periodic messages."},
    {ERR_INVALID_MSG_ID, "ERR_INVALID_MSG_ID", "The periodic message does not exist."},
    {ERR_DEVICE_IN_USE, "ERR_DEVICE_IN_USE", "The device is already open."},
    {ERR_INVALID_IOCTL_ID, "ERR_INVALID_IOCTL_ID", "The Ioctl is not known."},
    {ERR_BUFFER_EMPTY, "ERR_BUFFER_EMPTY", "No message was received."},
    {ERR_BUFFER_FULL, "ERR_BUFFER_FULL", "The transmit queue is full."},
    {ERR_BUFFER_OVERFLOW, "ERR_BUFFER_OVERFLOW", "Received messages were lost."},
    {ERR_PIN_INVALID, "ERR_PIN_INVALID", "The pin is not valid."},
    {ERR_CHANNEL_IN_USE, "ERR_CHANNEL_IN_USE", "A channel of this protocol is already open."},
    {ERR_MSG_PROTOCOL_ID, "ERR_MSG_PROTOCOL_ID", "The message's protocol differs from the channel's."},
    {ERR_INVALID_FILTER_ID, "ERR_INVALID_FILTER_ID", "The filter does not exist."},
    {ERR_NO_FLOW_CONTROL, "ERR_NO_FLOW_CONTROL", "No flow-control filter matches the message's identifier."},
    {ERR_NOT_UNIQUE, "ERR_NOT_UNIQUE", "A filter with the same identifiers exists."},
    {ERR_INVALID_BAUDRATE, "ERR_INVALID_BAUDRATE", "The baud rate is not valid for the protocol."},
    {ERR_INVALID_DEVICE_ID, "ERR_INVALID_DEVICE_ID", "The device id is not valid (only 1 is)."},
};

const Named* FindNamed(const Named* table, size_t n, uint32_t value) {
    for (size_t i = 0; i < n; ++i)
        if (table[i].value == value) return &table[i];
    return nullptr;
}

// The interface's own "exchange failed" text of ERR_FAILED.
const char kInterfaceErrorText[] = "DI_ZEDO_IF_ERROR";

}  // namespace

const char* ExitKindName(int exitCode) {
    switch (exitCode) {
        case kExitOk: return "ok";
        case kExitDevice: return "device";
        case kExitUsage: return "usage";
        case kExitTransport: return "transport";
        case kExitLocal: return "local";
        default: return "error";
    }
}

bool IsLibraryCode(uint32_t code) {
    const uint32_t high = code >> 16;
    return high == 0x900d || high == 0xa00d;
}

const char* LibraryCodeSentence(uint32_t code) {
    const LibraryCode* c = FindLibraryCode(code);
    return c ? c->sentence : nullptr;
}

const char* Win32ErrorName(uint32_t error) {
    const Named* n = FindNamed(kWin32Errors, sizeof kWin32Errors / sizeof kWin32Errors[0], error);
    return n ? n->name : nullptr;
}

const char* J2534StatusName(uint32_t status) {
    const Named* n = FindNamed(kJ2534Statuses, sizeof kJ2534Statuses / sizeof kJ2534Statuses[0], status);
    return n ? n->name : nullptr;
}

const char* J2534StatusSentence(uint32_t status) {
    const Named* n = FindNamed(kJ2534Statuses, sizeof kJ2534Statuses / sizeof kJ2534Statuses[0], status);
    return n ? n->sentence : nullptr;
}

Failure ResultFailure(uint32_t code, const std::string& what) {
    if (!IsLibraryCode(code)) return DeviceErrorFailure(code, what);
    Failure f;
    f.what = what;
    f.hasCode = true;
    f.code = code;
    const char* name = ResultCodeName(code);
    f.codeName = name ? name : "QXR_ERROR_UNKNOWN";
    const LibraryCode* known = FindLibraryCode(code);
    f.exitCode = known ? known->exitCode : kExitTransport;
    f.message = known ? known->sentence : "The library failed with a code it does not describe.";
    return f;
}

Failure DeviceErrorFailure(uint32_t error, const std::string& what) {
    Failure f;
    f.what = what;
    f.exitCode = kExitDevice;
    if (error == 0) {
        f.message = "The device answered no and gave no reason.";
        return f;
    }
    f.hasCode = true;
    f.code = error;
    const Named* n = FindNamed(kWin32Errors, sizeof kWin32Errors / sizeof kWin32Errors[0], error);
    f.codeName = n ? n->name : "DEVICE_RESULT";
    f.message = n ? n->sentence : "The device refused the command or failed with its own result code.";
    return f;
}

Failure J2534Failure(uint32_t status, const std::string& lastError, const std::string& what) {
    Failure f;
    f.what = what;
    f.hasCode = true;
    f.code = status;
    const char* name = J2534StatusName(status);
    f.codeName = name ? name : "J2534_STATUS";
    const char* sentence = J2534StatusSentence(status);
    f.message = sentence ? sentence : "The device answered with a status the tool does not know.";
    if (status == ERR_DEVICE_NOT_CONNECTED || (status == ERR_FAILED && lastError == kInterfaceErrorText)) {
        f.exitCode = kExitTransport;
        if (status == ERR_FAILED) f.message = "The exchange with the device failed (" + lastError + ").";
    } else if (status == ERR_NULL_PARAMETER) {
        f.exitCode = kExitLocal;
    } else {
        f.exitCode = kExitDevice;
        if (!lastError.empty()) f.message += " The device says: " + lastError;
    }
    return f;
}

Failure UsageFailure(const std::string& message) {
    Failure f;
    f.exitCode = kExitUsage;
    f.message = message;
    return f;
}

Failure LocalFailure(const std::string& message) {
    Failure f;
    f.exitCode = kExitLocal;
    f.message = message;
    return f;
}

void Output::Line(const std::string& text) {
    if (!m_json) m_out << text << '\n';
}

int Output::Done(Json result) {
    if (!m_json) return kExitOk;
    if (result.type() == Json::Type::Object) {
        Json withOk = Json::Object();
        withOk.Set("ok", true);
        for (size_t i = 0; i < result.Size(); ++i) withOk.Set(result.KeyAt(i), result.At(i));
        result = withOk;
    }
    m_out << result.Dump() << '\n';
    m_out.flush();
    return kExitOk;
}

int Output::Fail(const Failure& failure) {
    if (m_json) {
        Json error = Json::Object();
        error.Set("kind", ExitKindName(failure.exitCode));
        if (failure.hasCode) {
            error.Set("code", failure.code);
            error.Set("hex", Hex32(failure.code));
            error.Set("name", failure.codeName);
        }
        error.Set("message", failure.message);
        if (!failure.what.empty()) error.Set("what", failure.what);
        Json top = Json::Object();
        top.Set("ok", false);
        top.Set("error", error);
        top.Set("exitCode", failure.exitCode);
        m_out << top.Dump() << '\n';
        m_out.flush();
        return failure.exitCode;
    }
    std::string line = "vantro: ";
    if (!failure.what.empty()) line += failure.what + ": ";
    if (failure.hasCode) {
        // Win32 errors and J2534 statuses read best in decimal, other codes in hex.
        const bool small = failure.code < 0x10000 && failure.codeName != "DEVICE_RESULT";
        line += "error " + (small ? std::to_string(failure.code) : Hex32(failure.code)) + " " + failure.codeName +
                ": ";
    }
    line += failure.message;
    m_err << line << '\n';
    if (failure.exitCode == kExitUsage) m_err << "Try 'vantro --help'.\n";
    m_err.flush();
    return failure.exitCode;
}

LibraryReports::LibraryReports(std::ostream* verbose) : m_verbose(verbose) {
    omnel::SetReportHook([this](const omnel::Report& report) {
        m_last = report.code;
        ++m_count;
        if (m_verbose) {
            std::lock_guard<std::mutex> guard(m_lock);
            const char* name = ResultCodeName(report.code);
            *m_verbose << "[library] " << Hex32(report.code) << ' ' << (name ? name : "") << ' ' << report.text
                       << '\n';
        }
    });
}

LibraryReports::~LibraryReports() { omnel::SetReportHook(nullptr); }

bool LibraryReports::LastSince(uint64_t mark, uint32_t* code) const {
    if (m_count.load() <= mark) return false;
    *code = m_last.load();
    return true;
}

}  // namespace cli
