#pragma once

#include "devicecomplexcommands/examinationinfo.h"

#include <optional>

namespace Tavrix::DeviceWebApi {

// The examination the recorder last accepted through "SetExaminationInfo",
// kept for the process: signal recordings take their patient fields and
// lead names from it.
class ExaminationInfoStore
{
public:
    static void set(const DeviceComplexCommands::ExaminationInfo& info);
    static std::optional<DeviceComplexCommands::ExaminationInfo> last();
    static void clear();
};

} // namespace Tavrix::DeviceWebApi
