#pragma once

#include <cstdint>
#include <vector>

namespace Tavrix::DeviceComplexCommands {

// Bytes to place in the recorder's EEPROM from `address` on.
struct EepromDataRecord
{
    uint16_t address = 0;
    std::vector<uint8_t> data;
};

} // namespace Tavrix::DeviceComplexCommands
