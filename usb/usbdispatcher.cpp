#include "usb/usbdispatcher.h"

#include "usb/libusbsupportdriverchecker.h"
#include "usb/usbcontext.h"
#include "usb/usbendpoint.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <libusb.h>
#include <string>
#include <sys/time.h>
#include <thread>

namespace Tavrix::Usb {

namespace {
// One event-handling round waits at most 1 ms, so the loop keeps submitting.
timeval eventTimeout{0, 1000};
// libusb may stop event handling early through this flag; nothing sets it.
int eventCompleted = 0;

constexpr int cancelPasses = 1000;
constexpr int productStringSize = 100;

// A wait whose event handling fails sleeps in slices this long, so that a
// stop request is still seen.
constexpr std::chrono::milliseconds failedWaitSlice{100};

std::string errorText(int code)
{
    return std::to_string(code) + " " + libusb_strerror(static_cast<libusb_error>(code));
}

int LIBUSB_CALL onArrival(libusb_context*, libusb_device*, libusb_hotplug_event, void* dispatcher)
{
    static_cast<UsbDispatcher*>(dispatcher)->noteArrival();
    return 0; // stay registered
}
}

UsbDispatcher::UsbDispatcher(int interfaceNumber, UsbContext* context, const QVector<UsbEndPoint*>& endpoints)
    : m_interfaceNumber(interfaceNumber)
    , m_usbContext(context)
    , m_endpoints(endpoints)
{
}

UsbDispatcher::~UsbDispatcher()
{
    if (m_context == nullptr)
        return;
    freeTransfers();
    for (UsbEndPoint* endpoint : m_endpoints)
        endpoint->releaseTransfer();
    closeDevice();
    deinitUsbLib();
}

void UsbDispatcher::logLibusbError(const char* what, int code)
{
    m_usbContext->logError(std::string(what) + errorText(code));
}

bool UsbDispatcher::initUsbLib()
{
    const int result = libusb_init(&m_context);
    if (result != 0) {
        m_usbContext->logError(" init error: " + std::to_string(result));
        m_context = nullptr;
        return false;
    }
    libusb_set_option(m_context, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_INFO);
    if (m_context == nullptr) {
        m_usbContext->logError(" m_context == nullptr");
        return false;
    }
    m_usbContext->setEventContext(m_context);
    m_usbContext->logInfo(" context ok");
    watchArrivals();
    return true;
}

void UsbDispatcher::watchArrivals()
{
    m_hotplugRegistered = false;
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
        m_usbContext->logInfo(" no hotplug notices: the bus is polled every second");
        return;
    }
    const int result = libusb_hotplug_register_callback(m_context,
                                                        LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
                                                        LIBUSB_HOTPLUG_NO_FLAGS,
                                                        vendorId,
                                                        productId,
                                                        LIBUSB_HOTPLUG_MATCH_ANY,
                                                        onArrival,
                                                        this,
                                                        &m_hotplugHandle);
    if (result != LIBUSB_SUCCESS) {
        logLibusbError(" hotplug registration error (the bus is polled every second): ", result);
        return;
    }
    m_hotplugRegistered = true;
    m_usbContext->logInfo(" hotplug notices on");
}

bool UsbDispatcher::waitForEvents(std::chrono::milliseconds timeout, bool untilArrival, const std::atomic<bool>& running)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    while (running.load() && !(untilArrival && m_arrived)) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        int result = LIBUSB_ERROR_OTHER;
        if (m_context != nullptr) {
            timeval wait{static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
            result = libusb_handle_events_timeout_completed(m_context, &wait, nullptr);
        }
        // Interrupted: a stop request, or bytes queued for a recorder that is
        // not there yet; the loop condition tells which.
        if (result != 0 && result != LIBUSB_ERROR_INTERRUPTED)
            std::this_thread::sleep_for(std::min<std::chrono::microseconds>(left, failedWaitSlice));
    }
    return m_arrived;
}

bool UsbDispatcher::receiveLibusbVersion()
{
    const libusb_version* version = libusb_get_version();
    m_usbContext->logInfo(" version: " + std::to_string(version->major) + " " + std::to_string(version->minor) + " "
                          + std::to_string(version->micro) + " " + std::to_string(version->nano));
    return true;
}

void UsbDispatcher::releaseDeviceList()
{
    m_matchingDevices.clear();
    if (m_deviceList != nullptr) {
        // Unreferencing frees the devices nobody opened; an open handle keeps
        // its own reference. Without it every listing (one a second while no
        // recorder is attached) would leak the listed devices.
        libusb_free_device_list(m_deviceList, 1);
        m_deviceList = nullptr;
    }
}

QVector<libusb_device*>& UsbDispatcher::createRealDevicesList()
{
    releaseDeviceList();
    if (m_context == nullptr)
        return m_matchingDevices;
    const ssize_t count = libusb_get_device_list(m_context, &m_deviceList);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(m_deviceList[i], &descriptor) != 0) {
            m_usbContext->logError(" failed to get device descriptor number " + std::to_string(i));
            continue;
        }
        if (descriptor.idVendor == vendorId && descriptor.idProduct == productId)
            m_matchingDevices.push_back(m_deviceList[i]);
    }
    return m_matchingDevices;
}

bool UsbDispatcher::openDevice()
{
    m_arrived = false;
    m_usbContext->setErrorState(UsbContext::noDevice);
    QVector<libusb_device*>& devices = createRealDevicesList();
    if (devices.isEmpty())
        return false;

    libusb_device* device = devices.front();
    libusb_device_descriptor descriptor{};
    int result = libusb_get_device_descriptor(device, &descriptor);
    if (result != 0) {
        logLibusbError(" libusb_get_device_descriptor error: ", result);
        return false;
    }
    if (!LibusbSupportDriverChecker::isLibusbSupported(descriptor.idVendor, descriptor.idProduct)) {
        m_usbContext->logError(" is not libusb supported driver!");
        return false;
    }

    libusb_device_handle* handle = nullptr;
    result = libusb_open(device, &handle);
    if (result != 0) {
        logLibusbError(" libusb_open error: ", result);
        return false;
    }
    m_device = device;
    m_usbContext->m_deviceHandle = handle;
    if (handle == nullptr) {
        m_usbContext->logError(" m_deviceHandle == nullptr");
        return false;
    }

    result = libusb_reset_device(handle);
    if (result != 0) {
        logLibusbError(" libusb_reset_device error: ", result);
        return false;
    }

    unsigned char product[productStringSize] = {};
    result = libusb_get_string_descriptor_ascii(handle, descriptor.iProduct, product, productStringSize);
    if (result < 0) {
        logLibusbError(" libusb_get_string_descriptor_ascii error :", result);
        return false;
    }
    std::printf(" descriptor :%s\n", reinterpret_cast<const char*>(product));

    result = libusb_kernel_driver_active(handle, m_interfaceNumber);
    if (result == 1) {
        std::printf("Kernel Driver Active\n");
        const int detached = libusb_detach_kernel_driver(handle, m_interfaceNumber);
        if (detached != 0) {
            logLibusbError(" libusb_detach_kernel_driver error: ", detached);
            return false;
        }
    } else if (result != 0 && result != LIBUSB_ERROR_NOT_SUPPORTED) {
        logLibusbError(" libusb_kernel_driver_active error: ", result);
        return false;
    }

    std::printf(" libusb_claim_interface \n");
    std::fflush(stdout);
    result = libusb_claim_interface(handle, m_interfaceNumber);
    if (result < 0) {
        logLibusbError(" claiming interface error: ", result);
        return false;
    }

    m_interfaceClaimed = true;
    m_deviceAddress = libusb_get_device_address(device);
    m_usbContext->setErrorState(0);
    return true;
}

void UsbDispatcher::handleUsbEvents()
{
    int result = libusb_handle_events_timeout_completed(m_context, &eventTimeout, &eventCompleted);
    // A wake-up for queued command bytes, not a fault of the link.
    if (result == LIBUSB_ERROR_INTERRUPTED)
        result = 0;
    if (result != 0 || eventCompleted != 0) {
        m_usbContext->logError(" error: " + std::to_string(eventCompleted) + " " + errorText(result));
        m_usbContext->setErrorState(result != 0 ? result : LIBUSB_ERROR_BUSY);
    }
}

bool UsbDispatcher::freeTransfers()
{
    if (m_context == nullptr) {
        for (UsbEndPoint* endpoint : m_endpoints)
            endpoint->setBusy(false);
        return true;
    }
    for (int pass = 0; pass < cancelPasses; ++pass) {
        handleUsbEvents();
        UsbEndPoint* busy = nullptr;
        for (UsbEndPoint* endpoint : m_endpoints) {
            if (endpoint->isBusy()) {
                busy = endpoint;
                break;
            }
        }
        if (busy == nullptr)
            return true;
        if (busy->m_transfer == nullptr)
            continue;
        // A transfer that completes just before the cancel lands answers
        // NOT_FOUND; its callback still clears the busy flag.
        const int result = libusb_cancel_transfer(busy->m_transfer);
        if (result != 0 && result != LIBUSB_ERROR_NOT_FOUND)
            logLibusbError(" libusb_cancel_transfer error: ", result);
    }
    bool stillBusy = false;
    for (UsbEndPoint* endpoint : m_endpoints) {
        stillBusy = stillBusy || endpoint->isBusy();
        endpoint->setBusy(false);
    }
    if (stillBusy) {
        m_usbContext->logError("+++++ free_transfers() error");
        return false;
    }
    return true;
}

bool UsbDispatcher::closeDevice()
{
    m_usbContext->setErrorState(UsbContext::noDevice);
    libusb_device* device = m_device;
    m_device = nullptr;
    if (device == nullptr)
        return false;
    libusb_device_handle* handle = m_usbContext->m_deviceHandle;
    m_usbContext->m_deviceHandle = nullptr;
    if (handle == nullptr) {
        m_usbContext->logError(" libusb_device_handle* deviceHandle == nullptr");
        return false;
    }
    bool released = true;
    if (m_interfaceClaimed) {
        m_interfaceClaimed = false;
        const int result = libusb_release_interface(handle, m_interfaceNumber);
        if (result < 0) {
            logLibusbError(" libusb_release_interface error: ", result);
            released = false;
        }
    }
    // Closed even when the release failed (an unplugged device always fails
    // it): keeping the handle would leak its descriptor on every unplug.
    libusb_close(handle);
    return released;
}

void UsbDispatcher::deinitUsbLib()
{
    releaseDeviceList();
    if (m_context == nullptr) {
        m_usbContext->logError(" m_context == nullptr");
        return;
    }
    m_usbContext->setEventContext(nullptr);
    if (m_hotplugRegistered) {
        libusb_hotplug_deregister_callback(m_context, m_hotplugHandle);
        m_hotplugRegistered = false;
    }
    libusb_exit(m_context);
    m_context = nullptr;
    m_usbContext->logInfo(" ok");
}

bool UsbDispatcher::isRecorderPresentButUnlisted()
{
    if (!createRealDevicesList().isEmpty())
        return false;
    releaseDeviceList();
    // Plain POSIX calls: they are what a virtual bus redirects, too.
    const char* const root = "/sys/bus/usb/devices";
    DIR* directory = opendir(root);
    if (directory == nullptr)
        return false;
    const auto readHex = [](const std::string& path) {
        unsigned int value = 0;
        if (FILE* file = std::fopen(path.c_str(), "r")) {
            if (std::fscanf(file, "%x", &value) != 1)
                value = 0;
            std::fclose(file);
        }
        return value;
    };
    bool present = false;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string device = std::string(root) + "/" + entry->d_name;
        if (readHex(device + "/idVendor") == vendorId && readHex(device + "/idProduct") == productId) {
            present = true;
            break;
        }
    }
    closedir(directory);
    return present;
}

bool UsbDispatcher::restartUsbLib()
{
    if (m_context != nullptr)
        deinitUsbLib();
    return initUsbLib();
}

} // namespace Tavrix::Usb
