#include "virtualrecorder.h"

#include <umockdev.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <list>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace Tavrix::Simulator {
namespace {

constexpr int BusNumber = 1;
constexpr const char* HubSysPath = "/sys/devices/usb1";
constexpr const char* DeviceSysPath = "/sys/devices/usb1/1-1";
constexpr uint8_t InterfaceNumber = 1;
// Without unannounced events the worker still looks at pending reads this
// often, so a model that forgets to report a schedule cannot hang a read.
constexpr auto IdleRecheck = std::chrono::milliseconds(100);

// Full-speed device, one configuration, interface 1 with the four bulk
// endpoints of the recorder.
const std::vector<uint8_t> DeviceDescriptors = {
    0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40,
    0x83, 0x04, 0x03, 0x75, 0x00, 0x01, 0x01, 0x02, 0x03, 0x01,
    0x09, 0x02, 0x2E, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
    0x09, 0x04, InterfaceNumber, 0x00, 0x04, 0xFF, 0x00, 0x00, 0x00,
    0x07, 0x05, 0x04, 0x02, 0x40, 0x00, 0x00,
    0x07, 0x05, 0x85, 0x02, 0x40, 0x00, 0x00,
    0x07, 0x05, 0x83, 0x02, 0x40, 0x00, 0x00,
    0x07, 0x05, 0x86, 0x02, 0x40, 0x00, 0x00,
};

const std::vector<uint8_t> HubDescriptors = {
    0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40,
    0x6B, 0x1D, 0x02, 0x00, 0x00, 0x01, 0x03, 0x02, 0x01, 0x01,
    0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xE0, 0x00,
    0x09, 0x04, 0x00, 0x00, 0x01, 0x09, 0x00, 0x00, 0x00,
    0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0C,
};

const char* const StringDescriptors[] = {nullptr, "Orvim", "Orvim recorder", "SIM00001"};

std::string hex(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char buf[3];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

std::string deviceRecord(const char* sysPath, int devnum, int minor,
                         const char* speed, const std::vector<uint8_t>& descriptors)
{
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", BusNumber, devnum);
    // Sysfs attribute files end with a newline, and libusb checks that they do
    // (the record format writes that newline as backslash-n).
    std::ostringstream s;
    s << "P: " << (sysPath + 4) << "\n"
      << "N: " << node << "\n"
      << "E: DEVNAME=/dev/" << node << "\n"
      << "E: DEVTYPE=usb_device\n"
      << "E: DRIVER=usb\n"
      << "E: SUBSYSTEM=usb\n"
      << "E: PRODUCT=" << std::hex << (descriptors[9] << 8 | descriptors[8]) << "/"
      << (descriptors[11] << 8 | descriptors[10]) << "/" << (descriptors[13] << 8 | descriptors[12])
      << std::dec << "\n"
      << "E: TYPE=" << int(descriptors[4]) << "/0/0\n"
      << "E: BUSNUM=" << std::string(node + 8, 3) << "\n"
      << "E: DEVNUM=" << std::string(node + 12, 3) << "\n"
      << "E: MAJOR=189\n"
      << "E: MINOR=" << minor << "\n"
      << "A: busnum=" << BusNumber << "\\n\n"
      << "A: devnum=" << devnum << "\\n\n"
      << "A: dev=189:" << minor << "\\n\n"
      << "A: speed=" << speed << "\\n\n"
      << "A: bConfigurationValue=1\\n\n"
      << "A: bNumConfigurations=1\\n\n"
      << "A: idVendor=" << hex({descriptors[9], descriptors[8]}) << "\\n\n"
      << "A: idProduct=" << hex({descriptors[11], descriptors[10]}) << "\\n\n"
      << "H: descriptors=" << hex(descriptors) << "\n";
    return s.str();
}

bool isKnownEndpoint(uint8_t ep)
{
    return ep == uint8_t(Endpoint::Command) || ep == uint8_t(Endpoint::Answer) ||
           ep == uint8_t(Endpoint::Signal) || ep == uint8_t(Endpoint::Data);
}

} // namespace

// One submitted URB. `urb` and `buffer` are umockdev's copies of the
// client's memory; they are written back when the URB is reaped.
struct Urb {
    UMockdevIoctlClient* client = nullptr;
    UMockdevIoctlData* urb = nullptr;
    UMockdevIoctlData* buffer = nullptr;
    // A bulk IN URB's data, copied into the client's buffer only when it is
    // reaped, and only as many bytes as it carries: fetching a whole 64 KiB
    // read buffer from the client at submit and writing it back at reap cost
    // every exchange far more than the recorder's own time.
    std::vector<uint8_t> inData;
    int bufferLength = 0;
    gulong clientAddress = 0;
    uint8_t endpoint = 0;
    uint8_t type = 0;

    usbdevfs_urb* header() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
};

inline bool isBulkIn(const Urb& urb)
{
    return (urb.type == USBDEVFS_URB_TYPE_BULK || urb.type == USBDEVFS_URB_TYPE_INTERRUPT) && (urb.endpoint & 0x80);
}

// Everything belonging to one plug cycle: clients that opened this address
// keep talking to it after the unplug and get ENODEV from it.
struct DeviceSlot {
    int devnum = 0;
    std::string node;           // "/dev/bus/usb/001/002"
    UMockdevIoctlBase* handler = nullptr;
    int ptyMaster = -1;
    int ptySlave = -1;
    bool plugged = false;
    bool writable = false;      // XON state of the slave
    std::list<Urb> pending;     // IN URBs waiting for data, in submit order
    std::deque<Urb> reapable;   // completed, not yet reaped

    void setWritable(bool on)
    {
        if (ptySlave < 0 || on == writable)
            return;
        if (::tcflow(ptySlave, on ? TCOON : TCOOFF) == 0)
            writable = on;
    }
};

struct VirtualUsbRecorder::Impl {
    RecorderModel& model;
    UMockdevTestbed* testbed = nullptr;
    mutable std::mutex mutex;
    std::condition_variable wakeUp;
    std::thread worker;
    bool stopping = false;
    std::vector<std::unique_ptr<DeviceSlot>> slots; // all plug cycles; the last may be current
    DeviceSlot* current = nullptr;
    int nextDevnum = 2;
    bool kernelDriverBound = false;
    UsbAttachmentState counters;

    explicit Impl(RecorderModel& m) : model(m) {}

    gboolean handleIoctl(DeviceSlot* slot, UMockdevIoctlClient* client);
    void submit(DeviceSlot* slot, UMockdevIoctlClient* client);
    void reap(DeviceSlot* slot, UMockdevIoctlClient* client);
    void discard(DeviceSlot* slot, UMockdevIoctlClient* client);
    void answerControl(DeviceSlot* slot, Urb&& urb);
    void complete(DeviceSlot* slot, Urb&& urb, int status, const uint8_t* data, std::size_t size);
    void release(Urb& urb);
    // Releases every URB the slot holds, queued or reapable (under the lock).
    void dropTransfers(DeviceSlot* slot);
    void runWorker();
    void closePty(DeviceSlot* slot);
};

} // namespace Tavrix::Simulator

// ---- GObject subclass of UMockdevIoctlBase --------------------------------

using Tavrix::Simulator::DeviceSlot;

struct DastelSimIoctl {
    UMockdevIoctlBase parent;
    gboolean (*dispatch)(void* owner, DeviceSlot* slot, UMockdevIoctlClient* client);
    void* owner;
    DeviceSlot* slot;
};
struct DastelSimIoctlClass {
    UMockdevIoctlBaseClass parent_class;
};

G_DEFINE_TYPE(DastelSimIoctl, dastel_sim_ioctl, UMOCKDEV_TYPE_IOCTL_BASE)

static gboolean dastelSimHandleIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client)
{
    auto* self = reinterpret_cast<DastelSimIoctl*>(base);
    return self->dispatch(self->owner, self->slot, client);
}

static void dastel_sim_ioctl_class_init(DastelSimIoctlClass* klass)
{
    klass->parent_class.handle_ioctl = dastelSimHandleIoctl;
}

static void dastel_sim_ioctl_init(DastelSimIoctl* self)
{
    self->dispatch = nullptr;
    self->owner = nullptr;
    self->slot = nullptr;
}

// ---------------------------------------------------------------------------

namespace Tavrix::Simulator {

void VirtualUsbRecorder::Impl::release(Urb& urb)
{
    if (urb.buffer)
        g_object_unref(urb.buffer);
    if (urb.urb)
        g_object_unref(urb.urb);
    if (urb.client)
        g_object_unref(urb.client);
    urb = Urb{};
}

void VirtualUsbRecorder::Impl::dropTransfers(DeviceSlot* slot)
{
    for (auto& u : slot->pending)
        release(u);
    for (auto& u : slot->reapable)
        release(u);
    slot->pending.clear();
    slot->reapable.clear();
}

void VirtualUsbRecorder::Impl::complete(DeviceSlot* slot, Urb&& urb, int status,
                                        const uint8_t* data, std::size_t size)
{
    usbdevfs_urb* h = urb.header();
    if (data && size > 0 && urb.buffer) {
        size = std::min<std::size_t>(size, std::size_t(urb.buffer->data_len));
        std::memcpy(urb.buffer->data, data, size);
    } else if (data && size > 0 && isBulkIn(urb)) {
        size = std::min<std::size_t>(size, std::size_t(urb.bufferLength));
        urb.inData.assign(data, data + size);
    } else {
        size = 0;
    }
    h->status = status;
    h->actual_length = int(size);
    if (status == -ENOENT)
        ++counters.urbsCancelled;
    else
        ++counters.urbsCompleted;
    if (status == -EPIPE)
        ++counters.urbsStalled;
    if (status == -ESHUTDOWN)
        ++counters.urbsShutdown;
    slot->reapable.push_back(std::move(urb));
    slot->setWritable(true);
}

gboolean VirtualUsbRecorder::Impl::handleIoctl(DeviceSlot* slot, UMockdevIoctlClient* client)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;

    // Resolves the argument as a pointer to `size` bytes; null on failure.
    auto resolveArg = [&](std::size_t size) -> UMockdevIoctlData* {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, size, &error);
        if (!d) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
        }
        return d;
    };
    // Serves an ioctl whose argument points to `size` bytes: `serve` reads or
    // fills them and gives the errno to fail with, 0 for success.
    auto serveArg = [&](std::size_t size, const std::function<int(void* data)>& serve) -> gboolean {
        UMockdevIoctlData* d = resolveArg(size);
        if (!d)
            return TRUE;
        const int err = serve(d->data);
        g_object_unref(d);
        umockdev_ioctl_client_complete(client, err == 0 ? 0 : -1, err);
        return TRUE;
    };

    std::unique_lock<std::mutex> lock(mutex);

    if (request == USBDEVFS_REAPURBNDELAY) {
        reap(slot, client);
        return TRUE;
    }
    if (request == USBDEVFS_DISCARDURB) {
        discard(slot, client);
        return TRUE;
    }
    if (!slot->plugged) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }

    switch (request) {
    case USBDEVFS_SUBMITURB:
        submit(slot, client);
        return TRUE;
    case USBDEVFS_GET_CAPABILITIES:
        return serveArg(sizeof(uint32_t), [](void* data) {
            // What a kernel reports for an xHCI or EHCI host: with scatter-gather
            // libusb submits each transfer as one URB. Without it a 64 KiB read
            // becomes four URBs, three of them cancelled after every short
            // answer, which real hosts do not pay and the virtual link pays in
            // round trips.
            const uint32_t caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                  USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(data, &caps, sizeof caps);
            return 0;
        });
    case USBDEVFS_GET_SPEED:
        umockdev_ioctl_client_complete(client, 2 /* USB_SPEED_FULL */, 0);
        return TRUE;
    case USBDEVFS_CONNECTINFO:
        return serveArg(sizeof(usbdevfs_connectinfo), [slot](void* data) {
            auto* info = static_cast<usbdevfs_connectinfo*>(data);
            info->devnum = unsigned(slot->devnum);
            info->slow = 0;
            return 0;
        });
    case USBDEVFS_GETDRIVER:
        return serveArg(sizeof(usbdevfs_getdriver), [this](void* data) {
            auto* drv = static_cast<usbdevfs_getdriver*>(data);
            if (!kernelDriverBound || drv->interface != InterfaceNumber)
                return ENODATA;
            std::snprintf(drv->driver, sizeof drv->driver, "%s", "cdc_acm");
            return 0;
        });
    case USBDEVFS_IOCTL:
        return serveArg(sizeof(usbdevfs_ioctl), [this](void* data) {
            const auto* cmd = static_cast<const usbdevfs_ioctl*>(data);
            if (cmd->ioctl_code == int(USBDEVFS_CONNECT))
                return 0;
            if (cmd->ioctl_code != int(USBDEVFS_DISCONNECT))
                return ENOTTY;
            if (!kernelDriverBound || cmd->ifno != InterfaceNumber)
                return ENODATA;
            kernelDriverBound = false;
            return 0;
        });
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        return serveArg(sizeof(unsigned int), [this, request](void* data) {
            unsigned int ifno = 0;
            std::memcpy(&ifno, data, sizeof ifno);
            if (ifno != InterfaceNumber)
                return ENOENT;
            if (request == USBDEVFS_DISCONNECT_CLAIM)
                kernelDriverBound = false;
            return 0;
        });
    case USBDEVFS_RESET:
        // A bus reset empties the recorder's pipes like a power cycle.
        model.resetPipes();
        for (uint8_t ep : {0x85, 0x83, 0x86})
            model.clearHalt(Endpoint(ep));
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    case USBDEVFS_SETCONFIGURATION:
        return serveArg(sizeof(int), [](void* data) {
            int config = 0;
            std::memcpy(&config, data, sizeof config);
            return config == 1 || config == 0 || config == -1 ? 0 : EINVAL;
        });
    case USBDEVFS_SETINTERFACE:
        return serveArg(sizeof(usbdevfs_setinterface), [](void* data) {
            const auto* set = static_cast<const usbdevfs_setinterface*>(data);
            return set->interface == InterfaceNumber && set->altsetting == 0 ? 0 : EINVAL;
        });
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP: {
        const gboolean handled = serveArg(sizeof(unsigned int), [this, request](void* data) {
            unsigned int ep = 0;
            std::memcpy(&ep, data, sizeof ep);
            if (!isKnownEndpoint(uint8_t(ep)))
                return ENOENT;
            if (request == USBDEVFS_CLEAR_HALT)
                model.clearHalt(Endpoint(ep));
            return 0;
        });
        // A read waiting on the halted endpoint goes on (spurious wake-ups are harmless).
        wakeUp.notify_all();
        return handled;
    }
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
}

void VirtualUsbRecorder::Impl::submit(DeviceSlot* slot, UMockdevIoctlClient* client)
{
    GError* error = nullptr;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    Urb urb;
    urb.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (!urb.urb) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    urb.clientAddress = urb.urb->client_addr;
    usbdevfs_urb* h = urb.header();
    urb.endpoint = h->endpoint;
    urb.type = h->type;
    if (h->buffer_length < 0 || (urb.type == USBDEVFS_URB_TYPE_CONTROL && h->buffer_length < 8)) {
        release(urb);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    urb.bufferLength = h->buffer_length;
    if (h->buffer_length > 0 && !isBulkIn(urb)) {
        urb.buffer = umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                                 std::size_t(h->buffer_length), &error);
        if (!urb.buffer) {
            g_clear_error(&error);
            release(urb);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
    }
    const bool control = urb.type == USBDEVFS_URB_TYPE_CONTROL && (urb.endpoint & 0x7F) == 0;
    const bool bulk = (urb.type == USBDEVFS_URB_TYPE_BULK || urb.type == USBDEVFS_URB_TYPE_INTERRUPT) &&
                      isKnownEndpoint(urb.endpoint);
    if (!control && !bulk) {
        release(urb);
        umockdev_ioctl_client_complete(client, -1, ENOENT);
        return;
    }
    urb.client = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
    h->status = 0;
    h->actual_length = 0;
    ++counters.urbsSubmitted;
    umockdev_ioctl_client_complete(client, 0, 0);

    if (control) {
        answerControl(slot, std::move(urb));
        return;
    }
    const Endpoint ep = Endpoint(urb.endpoint);
    if (model.isStalled(ep)) {
        complete(slot, std::move(urb), -EPIPE, nullptr, 0);
        return;
    }
    if (!(urb.endpoint & 0x80)) {
        std::vector<uint8_t> bytes;
        if (urb.buffer)
            bytes.assign(urb.buffer->data, urb.buffer->data + urb.buffer->data_len);
        model.writeCommand(bytes, Clock::now());
        const auto size = bytes.size();
        Urb done = std::move(urb);
        usbdevfs_urb* dh = done.header();
        dh->status = 0;
        dh->actual_length = int(size);
        ++counters.urbsCompleted;
        slot->reapable.push_back(std::move(done));
        slot->setWritable(true);
        wakeUp.notify_all(); // an answer may be readable now
        return;
    }
    slot->pending.push_back(std::move(urb));
    wakeUp.notify_all();
}

void VirtualUsbRecorder::Impl::answerControl(DeviceSlot* slot, Urb&& urb)
{
    const uint8_t* setup = urb.buffer->data;
    const uint8_t requestType = setup[0];
    const uint8_t request = setup[1];
    const uint16_t value = uint16_t(setup[2] | setup[3] << 8);
    const uint16_t length = uint16_t(setup[6] | setup[7] << 8);
    std::vector<uint8_t> reply(8, 0); // the setup packet stays in front of the data
    std::memcpy(reply.data(), setup, 8);
    std::vector<uint8_t> data;
    bool stall = false;

    if (requestType == 0x80 && request == 0x06) { // GET_DESCRIPTOR
        const uint8_t type = uint8_t(value >> 8);
        const uint8_t index = uint8_t(value & 0xFF);
        if (type == 1) {
            data.assign(DeviceDescriptors.begin(), DeviceDescriptors.begin() + 18);
        } else if (type == 2 && index == 0) {
            data.assign(DeviceDescriptors.begin() + 18, DeviceDescriptors.end());
        } else if (type == 3 && index == 0) {
            data = {4, 3, 0x09, 0x04};
        } else if (type == 3 && index < 4) {
            const std::string text = StringDescriptors[index];
            data.push_back(uint8_t(2 + 2 * text.size()));
            data.push_back(3);
            for (char c : text) {
                data.push_back(uint8_t(c));
                data.push_back(0);
            }
        } else {
            stall = true;
        }
    } else if ((requestType & 0x80) && request == 0x00) { // GET_STATUS
        data = {0, 0};
    } else if (requestType == 0x80 && request == 0x08) { // GET_CONFIGURATION
        data = {1};
    } else if ((requestType & 0x60) == 0 && !(requestType & 0x80)) {
        // Standard OUT requests (features, address, configuration) are accepted.
    } else {
        stall = true; // the recorder knows no class or vendor requests
    }
    if (stall) {
        complete(slot, std::move(urb), -EPIPE, nullptr, 0);
        return;
    }
    if (data.size() > length)
        data.resize(length);
    reply.insert(reply.end(), data.begin(), data.end());
    complete(slot, std::move(urb), 0, reply.data(), reply.size());
    // Control transfers report the data stage only.
    slot->reapable.back().header()->actual_length = int(data.size());
}

void VirtualUsbRecorder::Impl::reap(DeviceSlot* slot, UMockdevIoctlClient* client)
{
    // Only this client's URBs: another process may have the device open too.
    auto it = std::find_if(slot->reapable.begin(), slot->reapable.end(),
                           [&](const Urb& u) { return u.client == client; });
    if (it == slot->reapable.end()) {
        if (slot->reapable.empty())
            slot->setWritable(false);
        umockdev_ioctl_client_complete(client, -1, slot->plugged ? EAGAIN : ENODEV);
        return;
    }
    GError* error = nullptr;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* out = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &error);
    if (!out) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    Urb urb = std::move(*it);
    slot->reapable.erase(it);
    if (!urb.inData.empty()) {
        UMockdevIoctlData* buffer =
            umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer), urb.inData.size(), &error);
        if (!buffer) {
            g_clear_error(&error);
            g_object_unref(out);
            release(urb);
            if (slot->reapable.empty())
                slot->setWritable(false);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        std::memcpy(buffer->data, urb.inData.data(), urb.inData.size());
        urb.buffer = buffer;
    }
    umockdev_ioctl_data_set_ptr(out, 0, urb.urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(out);
    release(urb);
    if (slot->reapable.empty())
        slot->setWritable(false);
}

void VirtualUsbRecorder::Impl::discard(DeviceSlot* slot, UMockdevIoctlClient* client)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gulong address = 0;
    std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, std::size_t(arg->data_len)));
    auto it = std::find_if(slot->pending.begin(), slot->pending.end(), [&](const Urb& u) {
        return u.client == client && u.clientAddress == address;
    });
    if (it == slot->pending.end()) {
        // Already completed (or never submitted): the kernel says EINVAL.
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    const bool bulkIn = it->type != USBDEVFS_URB_TYPE_CONTROL && (it->endpoint & 0x80) && isKnownEndpoint(it->endpoint);
    if (bulkIn) {
        // Data that reaches a read while the host cancels it is kept, as the
        // kernel does, and the host sees the cancellation with bytes. It
        // lands where the device's data always lands: in the oldest pending
        // URB of that endpoint, whichever of a split transfer's URBs the host
        // happens to cancel first.
        auto oldest = std::find_if(slot->pending.begin(), slot->pending.end(), [&](const Urb& u) {
            return u.client == client && u.endpoint == it->endpoint;
        });
        const std::vector<uint8_t> bytes = model.readAtCancel(
            Endpoint(it->endpoint), std::size_t(oldest->header()->buffer_length), Clock::now());
        if (!bytes.empty()) {
            const bool same = oldest == it;
            Urb first = std::move(*oldest);
            slot->pending.erase(oldest);
            complete(slot, std::move(first), -ENOENT, bytes.data(), bytes.size());
            if (same) {
                umockdev_ioctl_client_complete(client, 0, 0);
                return;
            }
        }
    }
    Urb urb = std::move(*it);
    slot->pending.erase(it);
    complete(slot, std::move(urb), -ENOENT, nullptr, 0);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void VirtualUsbRecorder::Impl::runWorker()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        auto now = Clock::now();
        auto wakeAt = now + IdleRecheck;
        DeviceSlot* slot = current;
        if (slot && slot->plugged) {
            uint8_t blocked[4] = {};
            int blockedCount = 0;
            for (auto it = slot->pending.begin(); it != slot->pending.end();) {
                const uint8_t epAddress = it->endpoint;
                if (std::find(blocked, blocked + blockedCount, epAddress) != blocked + blockedCount) {
                    ++it;
                    continue;
                }
                // The client that submitted it went away without cancelling.
                if (!umockdev_ioctl_client_get_connected(it->client)) {
                    release(*it);
                    it = slot->pending.erase(it);
                    continue;
                }
                const Endpoint ep = Endpoint(epAddress);
                if (model.isStalled(ep)) {
                    Urb urb = std::move(*it);
                    it = slot->pending.erase(it);
                    complete(slot, std::move(urb), -EPIPE, nullptr, 0);
                    continue;
                }
                const auto maxLength = std::size_t(it->header()->buffer_length);
                std::vector<uint8_t> bytes = model.read(ep, maxLength, now);
                if (!bytes.empty()) {
                    Urb urb = std::move(*it);
                    it = slot->pending.erase(it);
                    complete(slot, std::move(urb), 0, bytes.data(), bytes.size());
                    continue;
                }
                blocked[blockedCount++] = epAddress;
                if (auto ready = model.nextReadyTime(ep, now)) {
                    // A schedule in the past with nothing to read would spin.
                    const auto at = std::max(*ready, now + std::chrono::milliseconds(1));
                    wakeAt = std::min(wakeAt, at);
                }
                ++it;
            }
        }
        wakeUp.wait_until(lock, wakeAt);
    }
}

void VirtualUsbRecorder::Impl::closePty(DeviceSlot* slot)
{
    if (slot->ptyMaster >= 0)
        ::close(slot->ptyMaster);
    if (slot->ptySlave >= 0)
        ::close(slot->ptySlave);
    slot->ptyMaster = slot->ptySlave = -1;
}

// ---------------------------------------------------------------------------

VirtualUsbRecorder::VirtualUsbRecorder(RecorderModel& model) : d(std::make_unique<Impl>(model)) {}

VirtualUsbRecorder::~VirtualUsbRecorder()
{
    if (d->testbed) {
        std::string ignored;
        unplug(&ignored);
    }
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->wakeUp.notify_all();
    if (d->worker.joinable())
        d->worker.join();
    for (auto& slot : d->slots) {
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            d->dropTransfers(slot.get());
        }
        d->closePty(slot.get());
        if (slot->handler)
            g_object_unref(slot->handler);
    }
    if (d->testbed)
        g_object_unref(d->testbed);
}

bool VirtualUsbRecorder::start(std::string* error)
{
    if (d->testbed)
        return true;
    d->testbed = umockdev_testbed_new();
    if (!umockdev_in_mock_environment()) {
        *error = "not running under libumockdev-preload (LD_PRELOAD)";
        g_object_unref(d->testbed);
        d->testbed = nullptr;
        return false;
    }
    GError* gerror = nullptr;
    const std::string hub = deviceRecord(HubSysPath, 1, 0, "480", HubDescriptors);
    if (!umockdev_testbed_add_from_string(d->testbed, hub.c_str(), &gerror)) {
        *error = std::string("cannot add the root hub: ") + gerror->message;
        g_clear_error(&gerror);
        return false;
    }
    d->worker = std::thread([this] { d->runWorker(); });
    return true;
}

bool VirtualUsbRecorder::plug(std::string* error)
{
    if (!d->testbed) {
        *error = "testbed not started";
        return false;
    }
    std::unique_lock<std::mutex> lock(d->mutex);
    if (d->current && d->current->plugged)
        return true;
    auto slot = std::make_unique<DeviceSlot>();
    slot->devnum = d->nextDevnum++;
    if (d->nextDevnum > 127)
        d->nextDevnum = 2;
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", BusNumber, slot->devnum);
    slot->node = node;

    slot->ptyMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slot->ptyMaster < 0 || ::grantpt(slot->ptyMaster) != 0 || ::unlockpt(slot->ptyMaster) != 0) {
        *error = std::string("cannot open a pty: ") + std::strerror(errno);
        d->closePty(slot.get());
        return false;
    }
    char slaveName[64] = {};
    if (::ptsname_r(slot->ptyMaster, slaveName, sizeof slaveName) != 0 ||
        (slot->ptySlave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
        *error = std::string("cannot open the pty slave: ") + std::strerror(errno);
        d->closePty(slot.get());
        return false;
    }
    termios tio{};
    if (::tcgetattr(slot->ptySlave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slot->ptySlave, TCSANOW, &tio);
    }
    slot->writable = true;
    slot->setWritable(false);

    auto* handler = reinterpret_cast<DastelSimIoctl*>(g_object_new(dastel_sim_ioctl_get_type(), nullptr));
    handler->dispatch = [](void* owner, DeviceSlot* s, UMockdevIoctlClient* client) -> gboolean {
        return static_cast<Impl*>(owner)->handleIoctl(s, client);
    };
    handler->owner = d.get();
    handler->slot = slot.get();
    slot->handler = &handler->parent;

    GError* gerror = nullptr;
    if (!umockdev_testbed_attach_ioctl(d->testbed, slot->node.c_str(), slot->handler, &gerror)) {
        *error = std::string("cannot attach the ioctl handler: ") + gerror->message;
        g_clear_error(&gerror);
        d->closePty(slot.get());
        g_object_unref(slot->handler);
        return false;
    }
    const std::string record = deviceRecord(DeviceSysPath, slot->devnum, slot->devnum - 1,
                                            "12", DeviceDescriptors);
    if (!umockdev_testbed_add_from_string(d->testbed, record.c_str(), &gerror)) {
        *error = std::string("cannot add the device: ") + gerror->message;
        g_clear_error(&gerror);
        umockdev_testbed_detach_ioctl(d->testbed, slot->node.c_str(), nullptr);
        d->closePty(slot.get());
        g_object_unref(slot->handler);
        return false;
    }
    // Replace the plain file umockdev made with a link to the pty slave.
    char* root = umockdev_testbed_get_root_dir(d->testbed);
    const std::string nodeFile = std::string(root) + slot->node;
    g_free(root);
    ::unlink(nodeFile.c_str());
    if (::symlink(slaveName, nodeFile.c_str()) != 0) {
        *error = std::string("cannot link the device node: ") + std::strerror(errno);
        umockdev_testbed_remove_device(d->testbed, DeviceSysPath);
        umockdev_testbed_detach_ioctl(d->testbed, slot->node.c_str(), nullptr);
        d->closePty(slot.get());
        g_object_unref(slot->handler);
        return false;
    }
    slot->plugged = true;
    d->kernelDriverBound = false;
    d->current = slot.get();
    d->slots.push_back(std::move(slot));
    ++d->counters.plugCount;
    lock.unlock();

    d->model.resetPipes();
    umockdev_testbed_uevent(d->testbed, DeviceSysPath, "add");
    d->wakeUp.notify_all();
    return true;
}

bool VirtualUsbRecorder::unplug(std::string* error)
{
    if (!d->testbed) {
        *error = "testbed not started";
        return false;
    }
    std::unique_lock<std::mutex> lock(d->mutex);
    DeviceSlot* slot = d->current;
    if (!slot || !slot->plugged)
        return true;
    slot->plugged = false;
    while (!slot->pending.empty()) {
        Urb urb = std::move(slot->pending.front());
        slot->pending.pop_front();
        d->complete(slot, std::move(urb), -ESHUTDOWN, nullptr, 0);
    }
    // Hanging up the pty is what libusb notices as the disconnect; it then
    // reaps the ended URBs (REAP_AFTER_DISCONNECT) and gets ENODEV after.
    d->closePty(slot);
    lock.unlock();

    umockdev_testbed_uevent(d->testbed, DeviceSysPath, "remove");
    umockdev_testbed_remove_device(d->testbed, DeviceSysPath);
    umockdev_testbed_detach_ioctl(d->testbed, slot->node.c_str(), nullptr);
    d->model.resetPipes();
    return true;
}

void VirtualUsbRecorder::wake()
{
    d->wakeUp.notify_all();
}

void VirtualUsbRecorder::dropAllTransfers()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (auto& slot : d->slots) {
        d->dropTransfers(slot.get());
        slot->setWritable(false);
    }
}

UsbAttachmentState VirtualUsbRecorder::state() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    UsbAttachmentState s = d->counters;
    s.busNumber = BusNumber;
    s.plugged = d->current && d->current->plugged;
    s.deviceAddress = s.plugged ? d->current->devnum : 0;
    s.urbsPending = d->current ? d->current->pending.size() : 0;
    return s;
}

std::string VirtualUsbRecorder::stateJson() const
{
    const UsbAttachmentState s = state();
    std::ostringstream o;
    o << "{\"plugged\":" << (s.plugged ? "true" : "false") << ",\"bus\":" << s.busNumber
      << ",\"address\":" << s.deviceAddress << ",\"plugCount\":" << s.plugCount
      << ",\"urbsSubmitted\":" << s.urbsSubmitted << ",\"urbsCompleted\":" << s.urbsCompleted
      << ",\"urbsCancelled\":" << s.urbsCancelled << ",\"urbsPending\":" << s.urbsPending
      << ",\"urbsStalled\":" << s.urbsStalled << ",\"urbsShutdown\":" << s.urbsShutdown << "}";
    return o.str();
}

std::string VirtualUsbRecorder::testbedRoot() const
{
    if (!d->testbed)
        return {};
    char* root = umockdev_testbed_get_root_dir(d->testbed);
    std::string result(root);
    g_free(root);
    return result;
}

} // namespace Tavrix::Simulator
