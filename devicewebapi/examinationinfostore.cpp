#include "devicewebapi/examinationinfostore.h"

namespace Tavrix::DeviceWebApi {

namespace {
// Written and read on the main thread only.
std::optional<DeviceComplexCommands::ExaminationInfo>& stored()
{
    static std::optional<DeviceComplexCommands::ExaminationInfo> info;
    return info;
}
} // namespace

void ExaminationInfoStore::set(const DeviceComplexCommands::ExaminationInfo& info)
{
    stored() = info;
}

std::optional<DeviceComplexCommands::ExaminationInfo> ExaminationInfoStore::last()
{
    return stored();
}

void ExaminationInfoStore::clear()
{
    stored().reset();
}

} // namespace Tavrix::DeviceWebApi
