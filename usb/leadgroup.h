#pragma once

#include <cstdint>

namespace Tavrix::Usb {

// Electrode grouping of a patient cable, by the number the recorder uses.
struct LeadGroup
{
    uint8_t number = 0;
};

} // namespace Tavrix::Usb
