#pragma once

#include "devicesinfo/devicechanneltypeinfo.h"
#include "usb/idecodedframesink.h"
#include "usb/lsbchannelinfo.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace Tavrix::Usb {

struct DeviceInfo;

// The ADC endpoint's hand-over is a sequence of serialised byte arrays, one
// per endpoint read: a 32-bit big-endian length (0xFFFFFFFF for a null
// array), then the bytes. Gives their contents only, in order, so that a
// frame split over two reads does not have the next length prefix inside
// it. A length past the end keeps what is there; a cut-off prefix ends it.
class HandOverBytes
{
public:
    explicit HandOverBytes(const std::vector<uint8_t>& handOver) : m_bytes(handOver) {}

    // The next content byte; false when none is left.
    bool next(uint8_t& byte);

private:
    const std::vector<uint8_t>& m_bytes;
    std::size_t m_pos = 0;
    std::size_t m_blockEnd = 0;
};

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

    // The decoded frames also go to `sink` (null: to nobody). Managers that
    // do not decode ignore it.
    virtual void setDecodedFrameSink(IDecodedFrameSink* sink) { Q_UNUSED(sink); }
    // Another receiver of every decoded frame, after the one set above.
    virtual void addDecodedFrameSink(IDecodedFrameSink* sink) { Q_UNUSED(sink); }
    // The streamed channels in message order; empty when nothing is decoded.
    virtual std::vector<DecodedChannelLayout> channelLayout() const { return {}; }

signals:
    void signalTransfer(QByteArray message);
    void eventTransfer(QByteArray message);
    // The channels or their value counts changed (device identified or
    // reopened, ECG signal count changed); `reason` says which. Emitted on
    // the thread that made the change.
    void channelLayoutIsChanged(QString reason);
};

} // namespace Tavrix::Usb
