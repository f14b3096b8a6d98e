#include "usb/rawadcchannelsmanager.h"

namespace Tavrix::Usb {

RawAdcChannelsManager::RawAdcChannelsManager(unsigned int adcBufferSize, QObject* parent)
    : AdcChannelsManager(parent)
    , m_parcer(adcBufferSize)
{
}

void RawAdcChannelsManager::setConnectedDeviceInfo(const DeviceInfo&) {}

void RawAdcChannelsManager::restart() {}

std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, LsbChannelInfo> RawAdcChannelsManager::getSignalsLsbInfo()
{
    return {};
}

std::string RawAdcChannelsManager::getChannelName(const DevicesInfo::DeviceChannelTypeInfo&)
{
    return {};
}

void RawAdcChannelsManager::setSignalCount(const DevicesInfo::DeviceChannelTypeInfo&, uint8_t) {}

void RawAdcChannelsManager::handleAdcAnswer(std::vector<uint8_t> answer, int)
{
    HandOverBytes bytes(answer);
    uint8_t byte = 0;
    while (bytes.next(byte)) {
        if (m_parcer.put(byte))
            emit signalTransfer(QByteArray(reinterpret_cast<const char*>(m_parcer.data()),
                                           static_cast<int>(m_parcer.size())));
    }
}

} // namespace Tavrix::Usb
