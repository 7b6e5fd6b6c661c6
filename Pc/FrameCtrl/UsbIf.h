// The USB link: reaches the device through our USB library (Lib/WdUtils).
// It registers for one vendor and product (settings file, section
// "DEVICEINFO"), waits a second for the library to report the device, and
// then moves whole frames over two bulk pipes: 1 (OUT) and 0x82 (IN).
//
// Threads: the transmit thread writes the frame the message layer prepared
// and paces its time-outs; the receive thread reads, while a command is in
// progress, until a whole frame has arrived and hands it to the message
// layer; the watch thread only waits for the link to close. The library runs
// DeviceAttach and DeviceDetach on a thread of its own.
//
// Reassembly of received frames: a frame may arrive in several bulk
// transfers; the bytes are collected until the header's length (+ 6) has
// arrived, also across read time-outs. Bytes beyond the frame in the same
// transfer are dropped. A header that announces more than 517 bytes cannot
// start a frame: the bytes up to the next 0x02 are dropped and the rest is
// looked at again (nothing left: all are dropped).
#pragma once

#include <cstdint>

#include "Lib/WdUtils/WdUtils.h"
#include "Pc/FrameCtrl/CommIf.h"
#include "Pc/Os/OsThread.h"

// Settings (section "DEVICEINFO") and their defaults. The vendor default is
// the device maker's USB vendor identification.
constexpr uint32_t kUsbDefaultVendorId = 0x1D50;
constexpr uint32_t kUsbDefaultProductId = 13;

constexpr DWORD kUsbPipeOut = 0x01;
constexpr DWORD kUsbPipeIn = 0x82;
constexpr DWORD kUsbTransferTimeoutMs = 2000;
constexpr DWORD kUsbAttachWaitSeconds = 1;
constexpr uint32_t kUsbThreadStartMs = 5000;

// One attached device.
struct UsbDeviceContext {
    UsbDeviceContext* next;
    WDU_DEVICE_HANDLE hDevice;
    uint32_t vendorId;
    uint32_t productId;
    uint32_t interfaceNumber;
    uint32_t alternateSetting;
};

// The driver context, handed to the library as the callbacks' user data.
struct UsbDriverContext {
    HANDLE hAttachEvent;                 // DeviceAttach signals it
    HANDLE hListMutex;                   // guards the device list
    uint32_t deviceCount;
    UsbDeviceContext* deviceContextList;
    UsbDeviceContext* activeDevice;      // never set by this library: stays null
    HANDLE hDeviceFreeEvent;             // signalled once when the link opens
};

class CUsbIf : public CCommIf {
public:
    explicit CUsbIf(CMessage* message);
    ~CUsbIf() override;

    uint32_t Open(const char* portName) override;
    // flags bit 0: the caller is the watch thread itself.
    void Close(uint32_t flags) override;
    void Reserved() override {}
    uint32_t Send() override;
    uint32_t ReceiveThread() override;
    uint32_t TransmitThread() override;
    virtual uint32_t WatchThread();

    static uint32_t WatchThreadStart(void* link);

    // The library's callbacks; user data is the link's DrvCtx.
    static BOOL WDU_CALLCONV DeviceAttach(WDU_DEVICE_HANDLE hDevice, WDU_DEVICE* pDeviceInfo, PVOID pUserData);
    static void WDU_CALLCONV DeviceDetach(WDU_DEVICE_HANDLE hDevice, PVOID pUserData);

    // Observers for tests.
    intptr_t GetDeviceHandle() const { return m_hDevice; }
    WDU_DRIVER_HANDLE GetDriverHandle() const { return m_hDriver; }

protected:
    // The watch thread's wait for m_hEventWatchStop (a platform wait result).
    virtual uint32_t WaitWatchStop();

    vos::OsHandle m_hWatchThread;
    vos::OsHandle m_hEventWatchStarted;
    vos::OsHandle m_hEventWatchStopped;
    vos::OsHandle m_hEventWatchStop;
    WDU_DRIVER_HANDLE m_hDriver;
    UsbDriverContext DrvCtx;

private:
    uint32_t StartThread(vos::OsThreadProc proc, vos::OsHandle stop, vos::OsHandle started, vos::OsHandle* thread,
                         int createLine, int startLine);
    void StopThread(vos::OsHandle* thread);
    void FreeDeviceList();
};
