#pragma once

#include "devicecomplexcommands/writeecgmodecommand.h"
#include "usb/usbdevice.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Tavrix::Usb {
class ByteCommandQueue;
class UsbEventLoopWorker;
}

namespace Tavrix::DeviceComplexCommands {

// The recorder refuses a lead mode change while its converter runs, so the
// converter is switched off first and on again afterwards, but only when the
// signal stream was running when the command started.
class OrvimWriteEcgModeCommand : public WriteEcgModeCommand
{
    Q_OBJECT

public:
    OrvimWriteEcgModeCommand(uint32_t uid, Usb::UsbDevice::EEcgMode mode, Usb::UsbEventLoopWorker* worker);
    OrvimWriteEcgModeCommand(uint32_t uid,
                             Usb::UsbDevice::EEcgMode mode,
                             Usb::ByteCommandQueue* queue,
                             std::function<bool()> isStreamRunning);

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    void handleAdcOff(const std::vector<uint8_t>& answer, int32_t status);
    void handleWriteMode(const std::vector<uint8_t>& answer, int32_t status);
    void finish(std::shared_ptr<Usb::DeviceCommandStatus> status);

    Usb::UsbDevice::EEcgMode m_mode;
    Usb::ByteCommandQueue* m_queue;
    std::function<bool()> m_isStreamRunning;
    bool m_wasStreamRunning = false;
};

} // namespace Tavrix::DeviceComplexCommands
