#pragma once

#include "devicecomplexcommands/examinationinfo.h"

#include <functional>
#include <optional>

namespace Tavrix::DeviceWebApi {

// The examination the recorder last accepted through "SetExaminationInfo",
// kept for the process: signal recordings take their patient fields and
// lead names from it, and "GetExaminationInfo" answers it.
class ExaminationInfoStore
{
public:
    static void set(const DeviceComplexCommands::ExaminationInfo& info);
    static std::optional<DeviceComplexCommands::ExaminationInfo> last();
    static void clear();

    // Called on the main thread after every set() or clear(), so that other
    // clients can be told the patient in force changed; an empty function
    // removes it.
    static void setChangeListener(std::function<void()> listener);
};

} // namespace Tavrix::DeviceWebApi
