#pragma once

#include "usb/adcchannelsmanager.h"
#include "usb/frameparcer.h"

#include <cstdint>
#include <vector>

namespace Tavrix::Usb {

// Passes every complete ADC frame on undecoded; useful where the consumer
// wants the recorder's own frames. Holds no channels.
class RawAdcChannelsManager : public AdcChannelsManager
{
    Q_OBJECT

public:
    explicit RawAdcChannelsManager(unsigned int adcBufferSize, QObject* parent = nullptr);

    void setConnectedDeviceInfo(const DeviceInfo& info) override;
    void restart() override;
    std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, LsbChannelInfo> getSignalsLsbInfo() override;
    std::string getChannelName(const DevicesInfo::DeviceChannelTypeInfo& key) override;
    void setSignalCount(const DevicesInfo::DeviceChannelTypeInfo& key, uint8_t count) override;

public slots:
    void handleAdcAnswer(std::vector<uint8_t> answer, int status);

private:
    FrameParcer m_parcer;
};

} // namespace Tavrix::Usb
