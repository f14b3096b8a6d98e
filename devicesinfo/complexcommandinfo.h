#pragma once

#include <string>

namespace Tavrix::DevicesInfo {

// Binds a web-visible operation name to a registered complex command handler.
struct ComplexCommandInfo
{
    std::string name;
    std::string description;
    std::string handler;
};

} // namespace Tavrix::DevicesInfo
