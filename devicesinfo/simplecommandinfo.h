#pragma once

#include "devicesinfo/simplecommanddata.h"

#include <cstdint>
#include <string>

namespace Tavrix::DevicesInfo {

struct SimpleCommandInfo
{
    std::string name;
    std::string description;
    uint8_t code = 0;
    SimpleCommandData data;

    // The raw byte command every device gets after each command file.
    static SimpleCommandInfo custom();
};

} // namespace Tavrix::DevicesInfo
