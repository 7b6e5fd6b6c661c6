// Our USB library: the WDU_* and Os* functions that the USB link calls, with
// the names, types, status codes and behaviour of the USB library interface
// the link was written for. Its inside is ours.
//
// Behaviour callers rely on:
//   - WDU_Init returns at once. A thread of the library's own delivers the
//     attach callback for every matching device, including devices already
//     present when WDU_Init was called, and the detach callback when such a
//     device leaves. Detach comes only for devices the program accepted
//     (with WD_ACKNOWLEDGE, the attach callback's TRUE accepts; without it
//     every attached device is accepted). After the detach, every call with
//     that device handle fails with WD_DEVICE_NOT_FOUND.
//   - WDU_Uninit stops that thread and frees the remaining devices without
//     calling detach. It must not be called from inside a callback.
//   - WDU_TransferBulk: pipe numbers are endpoint addresses (1 = endpoint
//     0x01 OUT, 0x82 = endpoint 0x82 IN); fRead TRUE for IN; dwTimeout in
//     milliseconds, 0 = no limit. A read ends when the buffer is full or on a
//     short packet (shorter than the endpoint's packet size, 64 bytes). On
//     WD_TIME_OUT_EXPIRED the transferred count may be non-zero: those bytes
//     arrived and are in the buffer. One transfer per pipe at a time; a
//     second one at once fails with WD_READ_WRITE_CONFLICT.
//   - WDU_HaltTransfer cancels the transfer in progress on the pipe, which
//     then returns WD_IRP_CANCELED with the count transferred so far.
//   - Os events are auto-reset; OsEventWait counts in seconds (INFINITE = no
//     limit) and returns WD_TIME_OUT_EXPIRED on time-out. Os mutexes are
//     recursive within a thread.
//   - All time-outs run on the library clock (Pc/Os/OsClock.h).
//
// Where devices come from (chosen at every WDU_Init):
//   - the environment variable VANTRO_USB_BUS set ("PORT" or
//     "127.0.0.1:PORT"): the simulated USB bus served by sim::UsbBusServer on
//     that loopback port. A server that is not (yet) there is looked for again
//     every quarter second, so a bus started later shows its device then;
//   - otherwise, on Linux builds with libusb-1.0: the machine's USB devices;
//   - otherwise: no device ever attaches.
#pragma once

#include <cstdint>

// --- Basic types, as in the Win32 headers (identical redefinitions). -------
#if defined(_WIN32)
typedef unsigned long DWORD;
#define WDU_CALLCONV __stdcall
#else
typedef uint32_t DWORD;
#define WDU_CALLCONV
#endif
typedef int BOOL;
typedef unsigned char UCHAR;
typedef unsigned short USHORT;
typedef void* HANDLE;
typedef void* PVOID;
typedef DWORD* PDWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef INFINITE
#define INFINITE 0xffffffff
#endif

// --- Status codes. ----------------------------------------------------------
constexpr DWORD WD_STATUS_SUCCESS = 0x0;
constexpr DWORD WD_INVALID_HANDLE = 0x20000001;
constexpr DWORD WD_INVALID_PIPE_NUMBER = 0x20000002;
constexpr DWORD WD_READ_WRITE_CONFLICT = 0x20000003;
constexpr DWORD WD_INSUFFICIENT_RESOURCES = 0x20000005;
constexpr DWORD WD_SYSTEM_INTERNAL_ERROR = 0x20000007;
constexpr DWORD WD_DEVICE_NOT_FOUND = 0x2000000F;
constexpr DWORD WD_TIME_OUT_EXPIRED = 0x20000015;
constexpr DWORD WD_IRP_CANCELED = 0x20000016;
constexpr DWORD WD_INVALID_PARAMETER = 0x2000001B;
constexpr DWORD WD_TRY_AGAIN = 0x2000001D;
constexpr DWORD WD_OPERATION_FAILED = 0x20000020;
constexpr DWORD WD_USBD_STATUS_STALL_PID = 0xC0000004;
constexpr DWORD WD_USBD_STATUS_CANCELED = 0xC0010000;

// Option of WDU_Init: the attach callback's result decides whether the
// program takes the device.
#define WD_ACKNOWLEDGE 0x1

// --- Handles. ---------------------------------------------------------------
typedef PVOID WDU_DRIVER_HANDLE;
typedef PVOID WDU_DEVICE_HANDLE;

// --- Descriptors (USB standard layouts) and device information. ------------
struct WDU_DEVICE_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdUSB;
    UCHAR bDeviceClass;
    UCHAR bDeviceSubClass;
    UCHAR bDeviceProtocol;
    UCHAR bMaxPacketSize0;
    USHORT idVendor;
    USHORT idProduct;
    USHORT bcdDevice;
    UCHAR iManufacturer;
    UCHAR iProduct;
    UCHAR iSerialNumber;
    UCHAR bNumConfigurations;
};

struct WDU_CONFIGURATION_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT wTotalLength;
    UCHAR bNumInterfaces;
    UCHAR bConfigurationValue;
    UCHAR iConfiguration;
    UCHAR bmAttributes;
    UCHAR MaxPower;
};

struct WDU_INTERFACE_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    UCHAR bInterfaceNumber;
    UCHAR bAlternateSetting;
    UCHAR bNumEndpoints;
    UCHAR bInterfaceClass;
    UCHAR bInterfaceSubClass;
    UCHAR bInterfaceProtocol;
    UCHAR iInterface;
};

struct WDU_ENDPOINT_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    UCHAR bEndpointAddress;
    UCHAR bmAttributes;
    USHORT wMaxPacketSize;
    UCHAR bInterval;
};

// Pipe types and directions of WDU_PIPE_INFO.
enum { WDU_PIPE_CONTROL = 0, WDU_PIPE_ISOCHRONOUS = 1, WDU_PIPE_BULK = 2, WDU_PIPE_INTERRUPT = 3 };
enum { WDU_DIR_IN = 1, WDU_DIR_OUT = 2, WDU_DIR_IN_OUT = 3 };

struct WDU_PIPE_INFO {
    DWORD dwNumber;  // endpoint address
    DWORD dwMaximumPacketSize;
    DWORD type;
    DWORD direction;
    DWORD dwInterval;
};

struct WDU_ALTERNATE_SETTING {
    WDU_INTERFACE_DESCRIPTOR Descriptor;
    WDU_ENDPOINT_DESCRIPTOR* pEndpointDescriptors;
    WDU_PIPE_INFO* pPipes;
};

struct WDU_INTERFACE {
    WDU_ALTERNATE_SETTING* pAlternateSettings;
    DWORD dwNumAltSettings;
    WDU_ALTERNATE_SETTING* pActiveAltSetting;
};

struct WDU_CONFIGURATION {
    WDU_CONFIGURATION_DESCRIPTOR Descriptor;
    DWORD dwNumInterfaces;
    WDU_INTERFACE* pInterfaces;
};

#define WD_USB_MAX_INTERFACES 30

// Valid only during the attach callback.
struct WDU_DEVICE {
    WDU_DEVICE_DESCRIPTOR Descriptor;
    WDU_PIPE_INFO Pipe0;
    WDU_CONFIGURATION* pConfigs;
    WDU_CONFIGURATION* pActiveConfig;
    WDU_INTERFACE* pActiveInterface[WD_USB_MAX_INTERFACES];
};

// --- Registration. ----------------------------------------------------------
// 0 in a field matches any value.
struct WDU_MATCH_TABLE {
    USHORT wVendorId;
    USHORT wProductId;
    UCHAR bDeviceClass;
    UCHAR bDeviceSubClass;
    UCHAR bInterfaceClass;
    UCHAR bInterfaceSubClass;
    UCHAR bInterfaceProtocol;
};

typedef BOOL(WDU_CALLCONV* WDU_ATTACH_CALLBACK)(WDU_DEVICE_HANDLE hDevice, WDU_DEVICE* pDeviceInfo,
                                                 PVOID pUserData);
typedef void(WDU_CALLCONV* WDU_DETACH_CALLBACK)(WDU_DEVICE_HANDLE hDevice, PVOID pUserData);
typedef void(WDU_CALLCONV* WDU_POWER_CHANGE_CALLBACK)(WDU_DEVICE_HANDLE hDevice, DWORD dwPowerState,
                                                       PVOID pUserData);

struct WDU_EVENT_TABLE {
    WDU_ATTACH_CALLBACK pfDeviceAttach;
    WDU_DETACH_CALLBACK pfDeviceDetach;
    WDU_POWER_CHANGE_CALLBACK pfPowerChange;
    PVOID pUserData;
};

// --- Functions. -------------------------------------------------------------
// pcLicense is accepted and ignored. dwNumMatchTables must be at least 1. On
// failure *phDriver is null.
DWORD WDU_CALLCONV WDU_Init(WDU_DRIVER_HANDLE* phDriver, WDU_MATCH_TABLE* pMatchTables,
                            DWORD dwNumMatchTables, WDU_EVENT_TABLE* pEventTable, const char* pcLicense,
                            DWORD dwOptions);
void WDU_CALLCONV WDU_Uninit(WDU_DRIVER_HANDLE hDriver);
DWORD WDU_CALLCONV WDU_TransferBulk(WDU_DEVICE_HANDLE hDevice, DWORD dwPipeNum, DWORD fRead, DWORD dwOptions,
                                    PVOID pBuffer, DWORD dwBufferSize, PDWORD pdwBytesTransferred,
                                    DWORD dwTimeout);
DWORD WDU_CALLCONV WDU_HaltTransfer(WDU_DEVICE_HANDLE hDevice, DWORD dwPipeNum);

DWORD WDU_CALLCONV OsEventCreate(HANDLE* phOsEvent);
DWORD WDU_CALLCONV OsEventWait(HANDLE hOsEvent, DWORD dwSecTimeout);
DWORD WDU_CALLCONV OsEventSignal(HANDLE hOsEvent);
DWORD WDU_CALLCONV OsEventReset(HANDLE hOsEvent);
void WDU_CALLCONV OsEventClose(HANDLE hOsEvent);

DWORD WDU_CALLCONV OsMutexCreate(HANDLE* phOsMutex);
DWORD WDU_CALLCONV OsMutexLock(HANDLE hOsMutex);
DWORD WDU_CALLCONV OsMutexUnlock(HANDLE hOsMutex);
void WDU_CALLCONV OsMutexClose(HANDLE hOsMutex);

// A text for the status; unknown codes give "Unrecognized error code".
const char* WDU_CALLCONV Stat2Str(DWORD dwStatus);
