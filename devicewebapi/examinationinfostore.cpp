#include "devicewebapi/examinationinfostore.h"

namespace Tavrix::DeviceWebApi {

namespace {
// Written and read on the main thread only.
std::optional<DeviceComplexCommands::ExaminationInfo>& stored()
{
    static std::optional<DeviceComplexCommands::ExaminationInfo> info;
    return info;
}

std::function<void()>& listener()
{
    static std::function<void()> onChange;
    return onChange;
}

void tell()
{
    if (listener())
        listener()();
}
} // namespace

void ExaminationInfoStore::set(const DeviceComplexCommands::ExaminationInfo& info)
{
    stored() = info;
    tell();
}

std::optional<DeviceComplexCommands::ExaminationInfo> ExaminationInfoStore::last()
{
    return stored();
}

void ExaminationInfoStore::clear()
{
    stored().reset();
    tell();
}

void ExaminationInfoStore::setChangeListener(std::function<void()> onChange)
{
    listener() = std::move(onChange);
}

} // namespace Tavrix::DeviceWebApi
