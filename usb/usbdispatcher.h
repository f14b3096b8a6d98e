#pragma once

#include <QVector>
#include <atomic>
#include <chrono>
#include <cstdint>

struct libusb_context;
struct libusb_device;

namespace Tavrix::Usb {

class UsbContext;
class UsbEndPoint;

// The libusb calls of the USB worker: session, device search, open and claim,
// event handling, transfer cancellation and close. Used only on the USB thread.
class UsbDispatcher
{
public:
    static constexpr uint16_t vendorId = 0x0483;
    static constexpr uint16_t productId = 0x7503;

    UsbDispatcher(int interfaceNumber, UsbContext* context, const QVector<UsbEndPoint*>& endpoints);
    ~UsbDispatcher();
    UsbDispatcher(const UsbDispatcher&) = delete;
    UsbDispatcher& operator=(const UsbDispatcher&) = delete;

    // Starts the libusb session and, where the platform has hotplug
    // notification, asks it to tell of every recorder that arrives.
    bool initUsbLib();
    bool receiveLibusbVersion();
    // The recorders on the bus, in libusb's list order.
    QVector<libusb_device*>& createRealDevicesList();
    bool openDevice();
    // One round of libusb event handling (1 ms); failures go to the context.
    void handleUsbEvents();
    // Sleeps in libusb's event handling for up to `timeout`, so that arrival
    // notices are taken as they come. Returns early once `running` is false
    // (UsbContext::wakeEventHandler interrupts the wait) and, with
    // `untilArrival`, once a recorder arrived since the last openDevice().
    // True if one arrived.
    bool waitForEvents(std::chrono::milliseconds timeout, bool untilArrival, const std::atomic<bool>& running);
    // libusb tells of arrivals here: a recorder is found as it is plugged
    // rather than at the next poll.
    bool hasArrivalNotices() const { return m_hotplugRegistered; }
    // Called by libusb's hotplug callback (inside event handling, USB thread).
    void noteArrival() { m_arrived = true; }
    // Cancels every transfer in flight and waits for its callback.
    bool freeTransfers();
    bool closeDevice();
    void deinitUsbLib();

    // A recorder the kernel shows on the bus (sysfs) although libusb's list
    // lacks it: libusb missed its arrival (out of descriptors when the
    // hotplug event came, say) and will not list it before the next one.
    bool isRecorderPresentButUnlisted();
    // A fresh libusb context, which lists the bus anew. Only while no device
    // is open and no transfer is in flight.
    bool restartUsbLib();

    const QVector<UsbEndPoint*>& endpoints() const { return m_endpoints; }
    uint8_t deviceAddress() const { return m_deviceAddress; }
    bool isInterfaceClaimed() const { return m_interfaceClaimed; }

    libusb_context* m_context = nullptr;

private:
    void releaseDeviceList();
    void watchArrivals();
    void logLibusbError(const char* what, int code);

    int m_interfaceNumber;
    UsbContext* m_usbContext;
    libusb_device* m_device = nullptr;
    libusb_device** m_deviceList = nullptr;
    QVector<libusb_device*> m_matchingDevices;
    uint8_t m_deviceAddress = 0;
    QVector<UsbEndPoint*> m_endpoints;
    bool m_interfaceClaimed = false;
    bool m_hotplugRegistered = false;
    int m_hotplugHandle = 0;
    bool m_arrived = false;
};

} // namespace Tavrix::Usb
