#include "usb/visframedecoderfactory.h"

#include "devicesinfo/devicecommoninfo.h"
#include "usb/deviceinfo.h"
#include "usb/cableframedecoder.h"
#include "usb/deviceferrowseriesframedecoder.h"
#include "usb/deviceferrowserieswithadframedecoder.h"

namespace Tavrix::Usb {

uint8_t VisFrameDecoderFactory::ecgSignalCount(const DevicesInfo::DeviceCommonInfo& info)
{
    for (const DevicesInfo::DeviceChannelCommonInfo& channel : info.channels) {
        if (channel.name == "ecg")
            return channel.maxSignalCount;
    }
    return 0;
}

std::vector<std::shared_ptr<FrameDecoder>> VisFrameDecoderFactory::create(const DeviceInfo& info)
{
    std::vector<std::shared_ptr<FrameDecoder>> decoders;
    const std::string& format = info.visFrameFormat;
    if (format.empty())
        return decoders;

    if (format == "DeviceFerrowSeries")
        decoders.push_back(std::make_shared<DeviceFerrowSeriesFrameDecoder>());
    else if (format == "DeviceFerrowSeriesWithAD")
        decoders.push_back(std::make_shared<DeviceFerrowSeriesWithADFrameDecoder>(ecgSignalCount(info)));

    decoders.push_back(std::make_shared<CableFrameDecoder>());
    return decoders;
}

} // namespace Tavrix::Usb
