#pragma once

#include "devicecomplexcommands/getdatafromeepromcommand.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Tavrix::Usb {
class UsbDeviceManager;
}

namespace Tavrix::DeviceComplexCommands {

// Reads `size` EEPROM bytes from `address` on with "ReadFromEeprom", at most
// 16 bytes a request, each request sent on the previous answer.
class OrvimGetDataFromEepromCommand : public GetDataFromEepromCommand
{
    Q_OBJECT

public:
    static constexpr size_t portionSize = 16;

    OrvimGetDataFromEepromCommand(uint32_t uid, uint16_t address, uint16_t size, Usb::UsbDeviceManager* manager);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    std::shared_ptr<Usb::DeviceCommandStatus> sendPortion();
    void handlePortion(size_t count, const std::vector<uint8_t>& answer, int32_t status);

    uint16_t m_address;
    uint16_t m_size;
    Usb::UsbDeviceManager* m_manager;
    std::vector<uint8_t> m_data;
};

} // namespace Tavrix::DeviceComplexCommands
