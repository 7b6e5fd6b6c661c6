// Internal operations shared by the J2534 version 04.04 entry points (and
// usable by the other pass-thru families): the Ioctl and last-error commands,
// the exchange outcome rule, and guarded access to the pass-thru state.
#pragma once

#include <cstdint>

// Sends one Ioctl to the device (code 0x0B7F). READ_VBATT and
// READ_PROG_VOLTAGE take the DeviceID in ChannelID (1, replaced by
// CurrentChannelID); anything else: 26. Returns a J2534 status.
uint32_t LocalJ2534Ioctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput);

// Fetches the device's last error text (code 0x0A7F) into pErrorDescription
// (80 bytes); the text is stored only when the device sent one. Returns
// MapExchangeResult of the exchange, else the device's Result.
uint32_t LocalJ2534GetLastError(char* pErrorDescription);

// The outcome of one J2534 exchange: with exchange error 0 the device's
// Result is returned (and for Result 7 the device's text is fetched into
// J2534LastError) and *resultPath is true, so that the caller logs its
// return line; a no-answer time-out gives 8, any other failure 7 with
// "DI_ZEDO_IF_ERROR" as the last error, both with *resultPath false.
uint32_t J2534ExchangeOutcome(uint32_t exchangeError, uint32_t result, bool* resultPath);

// The open/link failure codes that PassThruOpen and PassThruClose turn into 8.
bool IsJ2534LinkFailure(uint32_t code);

// Guarded access to the pass-thru state (g_passThruLock, never held across an
// exchange).
bool J2534IsOpen();
uint32_t J2534CurrentChannel();
void J2534SetCurrentChannel(uint32_t channelId);
void J2534SetOpen(bool open);  // also clears CurrentChannelID
void J2534SetLastErrorText(const char* text);
// Copies J2534LastError, terminator included, into out (80 bytes).
void J2534CopyLastErrorText(char* out);

// Call-log helpers: a pointer as the u32 the "%08X" fields show, and a
// bounded copy of an 80-byte text buffer for "%s" fields.
uint32_t LogPtr(const void* pointer);
struct LogText {
    explicit LogText(const char* text);
    char value[80];
};
