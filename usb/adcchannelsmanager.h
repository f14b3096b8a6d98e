#pragma once

#include "devicesinfo/devicechanneltypeinfo.h"
#include "usb/lsbchannelinfo.h"

#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace Tavrix::Usb {

struct DeviceInfo;

// Turns the ADC endpoint's byte stream into stream messages for the connected
// device; the device manager configures it on identification.
class AdcChannelsManager : public QObject
{
    Q_OBJECT

public:
    explicit AdcChannelsManager(QObject* parent = nullptr);
    ~AdcChannelsManager() override;

    virtual void setConnectedDeviceInfo(const DeviceInfo& info) = 0;
    // Called on the USB thread after the device has been reopened.
    virtual void restart() = 0;
    virtual std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, LsbChannelInfo> getSignalsLsbInfo() = 0;
    virtual std::string getChannelName(const DevicesInfo::DeviceChannelTypeInfo& key) = 0;
    virtual void setSignalCount(const DevicesInfo::DeviceChannelTypeInfo& key, uint8_t count) = 0;

signals:
    void signalTransfer(QByteArray message);
    void eventTransfer(QByteArray message);
};

} // namespace Tavrix::Usb
