#pragma once

#include <cstdint>
#include <vector>

namespace Tavrix::DeviceComplexCommands {

// Memory selector of the EEPROM in the address field of its read (0x03) and
// write (0x04) requests.
constexpr uint8_t eepromSelector[] = {0x00, 0x05};

// Bytes to place in the recorder's EEPROM from `address` on.
struct EepromDataRecord
{
    uint16_t address = 0;
    std::vector<uint8_t> data;
};

} // namespace Tavrix::DeviceComplexCommands
