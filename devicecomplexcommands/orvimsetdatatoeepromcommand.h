#pragma once

#include "devicecomplexcommands/eepromdatarecord.h"
#include "devicecomplexcommands/setdatatoeepromcommand.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace Tavrix::Usb {
class UsbDeviceManager;
}

namespace Tavrix::DeviceComplexCommands {

// Writes a record into the EEPROM with "WriteToEeprom", at most 16 bytes a
// request, each request sent on the previous answer. The first failure ends
// the write; portions already written stay.
class OrvimSetDataToEepromCommand : public SetDataToEepromCommand
{
    Q_OBJECT

public:
    static constexpr size_t portionSize = 16;

    OrvimSetDataToEepromCommand(uint32_t uid, EepromDataRecord record, Usb::UsbDeviceManager* manager);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    std::shared_ptr<Usb::DeviceCommandStatus> sendPortion();
    void handlePortion(const std::vector<uint8_t>& answer, int32_t status);

    EepromDataRecord m_record;
    Usb::UsbDeviceManager* m_manager;
    size_t m_done = 0;
};

} // namespace Tavrix::DeviceComplexCommands
