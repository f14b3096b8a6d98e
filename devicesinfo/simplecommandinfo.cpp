#include "devicesinfo/simplecommandinfo.h"

namespace Tavrix::DevicesInfo {

SimpleCommandInfo SimpleCommandInfo::custom()
{
    SimpleCommandInfo info;
    info.name = "Custom";
    info.description = "Custom byte command";
    info.code = 0;
    info.data.sourceType = ECommandSourceType::DYNAMIC;
    info.data.dataType = ECommandDataType::BINARY;
    info.data.answerType = ECommandDataType::BINARY;
    info.data.width = -1;
    return info;
}

} // namespace Tavrix::DevicesInfo
