#pragma once

#include <cstdint>
#include <functional>

namespace Tavrix::DevicesInfo {

enum class EChannelType : int32_t { Ecg = 0, Reo = 1, Acc = 2, Prs = 3, Ton = 4, Oxy = 5, Unknown = 7 };
enum class EChannelSource : int32_t { Device = 0, Cable = 1, Unknown = 7 };

// What a channel carries and where it comes from; used as a map key.
struct DeviceChannelTypeInfo
{
    EChannelType type = EChannelType::Ecg;
    EChannelSource source = EChannelSource::Device;

    bool operator==(const DeviceChannelTypeInfo& other) const
    {
        return type == other.type && source == other.source;
    }
    bool operator!=(const DeviceChannelTypeInfo& other) const { return !(*this == other); }
};

} // namespace Tavrix::DevicesInfo

template<>
struct std::hash<Tavrix::DevicesInfo::DeviceChannelTypeInfo>
{
    std::size_t operator()(const Tavrix::DevicesInfo::DeviceChannelTypeInfo& info) const noexcept
    {
        return (static_cast<std::size_t>(info.type) << 8) ^ static_cast<std::size_t>(info.source);
    }
};
