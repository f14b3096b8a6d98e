#pragma once

// Attaches a RecorderModel to the system as a USB device that an unmodified
// libusb-1.0 can find, open and talk to, using umockdev's testbed. Only
// processes running with libumockdev-preload (and the testbed's
// UMOCKDEV_DIR) see the device; the hosting process does not need libusb.
//
// The device node is a symlink to a pty slave rather than a plain file:
// the slave is made writable (XON) only while a URB is waiting to be
// reaped, so libusb's poll sleeps instead of spinning, and closing the
// master on unplug gives libusb the descriptor error of a real disconnect.

#include "recordermodel.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Tavrix::Simulator {

struct UsbAttachmentState {
    bool plugged = false;
    int busNumber = 1;
    int deviceAddress = 0;      // 0 while unplugged
    int plugCount = 0;
    uint64_t urbsSubmitted = 0;
    uint64_t urbsCompleted = 0; // ended with data or a status, cancelled ones excluded
    uint64_t urbsCancelled = 0; // discarded by the host
    uint64_t urbsPending = 0;   // submitted, not yet completed
    uint64_t urbsStalled = 0;   // completed with -EPIPE
    uint64_t urbsShutdown = 0;  // ended by an unplug
};

class VirtualUsbRecorder {
public:
    static constexpr uint16_t VendorId = 0x0483;
    static constexpr uint16_t ProductId = 0x7503;

    explicit VirtualUsbRecorder(RecorderModel& model);
    ~VirtualUsbRecorder();
    VirtualUsbRecorder(const VirtualUsbRecorder&) = delete;
    VirtualUsbRecorder& operator=(const VirtualUsbRecorder&) = delete;

    // Creates the testbed (one per process: it redirects /sys and /dev
    // process-wide through UMOCKDEV_DIR). False with a reason when the mock
    // environment cannot be had.
    bool start(std::string* error);

    // Plugging gives the device a new address each time; unplugging ends
    // every in-flight transfer with -ESHUTDOWN and announces the removal.
    bool plug(std::string* error);
    bool unplug(std::string* error);

    // The model changed outside USB traffic (fault, value, button): look
    // at the pending IN transfers again now.
    void wake();

    // The host process went away: forget its transfers so nothing more is
    // read from the model on its behalf.
    void dropAllTransfers();

    UsbAttachmentState state() const;
    std::string stateJson() const;
    std::string testbedRoot() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace Tavrix::Simulator
