#pragma once

// The channel keys the decoder and channel manager tests name, with the
// description types they are made of: `using namespace TestSupport::ChannelKeys;`.

#include "devicesinfo/devicechannelcommoninfo.h"
#include "devicesinfo/devicechanneltypeinfo.h"

namespace TestSupport::ChannelKeys {

using Tavrix::DevicesInfo::DeviceChannelCommonInfo;
using Tavrix::DevicesInfo::DeviceChannelTypeInfo;
using Tavrix::DevicesInfo::EChannelSource;
using Tavrix::DevicesInfo::EChannelType;

inline const DeviceChannelTypeInfo ecgKey{EChannelType::Ecg, EChannelSource::Device};
inline const DeviceChannelTypeInfo reoKey{EChannelType::Reo, EChannelSource::Device};
inline const DeviceChannelTypeInfo accKey{EChannelType::Acc, EChannelSource::Device};
inline const DeviceChannelTypeInfo prsKey{EChannelType::Prs, EChannelSource::Device};
inline const DeviceChannelTypeInfo tonKey{EChannelType::Ton, EChannelSource::Device};
inline const DeviceChannelTypeInfo oxyKey{EChannelType::Oxy, EChannelSource::Device};
inline const DeviceChannelTypeInfo extAccKey{EChannelType::Acc, EChannelSource::Cable};

} // namespace TestSupport::ChannelKeys
