#pragma once

#include "devicesinfo/complexcommandinfo.h"
#include "devicesinfo/devicechannelcommoninfo.h"
#include "devicesinfo/sharedlist.h"
#include "devicesinfo/simplecommandinfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::DevicesInfo {

enum class ESeries : int32_t { QA = 0, QB = 1, Other = 2, NotRead = 3 };

// Everything the service knows about one device type.
struct DeviceCommonInfo
{
    uint16_t type = 0;
    std::string name;
    ESeries series = ESeries::NotRead;
    std::string fileNameTag;
    float voltageForStartWriting = 0.0f;
    std::string visFrameFormat;
    std::vector<DeviceChannelCommonInfo> channels;
    SharedList<SimpleCommandInfo> simpleCommands;
    SharedList<ComplexCommandInfo> complexCommands;
};

} // namespace Tavrix::DevicesInfo
