#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Usb {

// One patient cable type from Cables.json.
struct CableTypeInfo
{
    uint8_t type = 0;
    uint8_t pack = 0;
    uint8_t leadGroup = 0;
    std::string serie;
    std::string name;
    std::string elecType;
    std::string fullName;
    std::string vin;
    std::string connectorType;

    // The first record whose type matches, or null.
    static const CableTypeInfo* find(const std::vector<CableTypeInfo>& list, uint8_t type);
};

} // namespace Tavrix::Usb
