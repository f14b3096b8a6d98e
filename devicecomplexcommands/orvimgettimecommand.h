#pragma once

#include "usb/gettimecommand.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Tavrix::Usb {
class ByteCommand;
class UsbDeviceManager;
}

namespace Tavrix::DeviceComplexCommands {

// Reads the recorder's real-time clock with the simple command "ReadRtc".
// The answer holds seconds, minutes, hours, day, month and year as BCD at
// offsets 4 to 9.
class OrvimGetTimeCommand : public Usb::GetTimeCommand
{
    Q_OBJECT

public:
    OrvimGetTimeCommand(uint32_t uid, Usb::UsbDeviceManager* manager);

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

    // The clock in a "ReadRtc" answer; false when the answer is not 13 bytes
    // or a field is not valid BCD.
    static bool decodeAnswer(const std::vector<uint8_t>& answer, Common::DateTimeObject& dateTime);

private:
    void handleAnswer(std::shared_ptr<Usb::ByteCommand> command, const std::vector<uint8_t>& answer, int32_t status);

    Usb::UsbDeviceManager* m_manager;
};

} // namespace Tavrix::DeviceComplexCommands
