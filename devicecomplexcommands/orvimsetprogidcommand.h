#pragma once

#include "devicecomplexcommands/setprogidcommand.h"

#include <cstdint>
#include <memory>

namespace Tavrix::Usb {
class UsbDeviceManager;
}

namespace Tavrix::DeviceComplexCommands {

// Stores the program identifier and its complement at EEPROM 0x044D through
// the device's "SetDataToEeprom" operation.
class OrvimSetProgIdCommand : public SetProgIdCommand
{
public:
    static constexpr uint16_t address = 1101;

    OrvimSetProgIdCommand(uint32_t uid, uint8_t progId, Usb::UsbDeviceManager* manager);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    void handleWritten(Usb::ComplexCommand* command, std::shared_ptr<Usb::DeviceCommandStatus> status);

    uint8_t m_progId;
    Usb::UsbDeviceManager* m_manager;
};

} // namespace Tavrix::DeviceComplexCommands
