#pragma once

#include "usb/leadgroup.h"

#include <string>
#include <unordered_map>

namespace Tavrix::Usb {

// The fixed table from lead-group name (case-sensitive) to its number.
class LeadGroupMap : public std::unordered_map<std::string, LeadGroup>
{
public:
    LeadGroupMap();
};

} // namespace Tavrix::Usb
