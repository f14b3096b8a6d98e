#pragma once

#include "common/datetimeobject.h"
#include "devicesinfo/devicechannelcommoninfo.h"
#include "usb/adcchannelsmanager.h"
#include "usb/adcviewermessage.h"
#include "usb/framedecoder.h"
#include "usb/frameparcer.h"
#include "usb/lsbchannelinfo.h"

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Tavrix::Usb {

template<unsigned int Address>
class UsbAdcListener;

// Decodes the ADC endpoint's frames with the connected device's decoders,
// collects every channel point by point and emits one signal message per
// block of ECG points; a pushed button becomes an event message.
//
// Channels and group values: a channel takes its signal count of values from
// its decoder group at every point. The count is limited to the group's count
// when the channel is built (a description may declare more than a frame
// carries), and setSignalCount() sets channel and group together. Should a
// group still carry fewer values than a channel expects (two description
// channels sharing one key, one of them resized), the missing values of the
// point are 0: a channel never reads past the values its group carries.
class UserAdcChannelsManager : public AdcChannelsManager
{
    Q_OBJECT

public:
    // Points a channel keeps while no block completes (a device whose
    // description has no ECG channel): the oldest block is never sent, so
    // later points are dropped instead of growing without bound.
    static constexpr uint32_t maxPointsPerBlock = 4096;

    UserAdcChannelsManager(unsigned int adcBufferSize,
                           UsbAdcListener<131>* listener,
                           QObject* parent = nullptr);
    ~UserAdcChannelsManager() override;

    void setConnectedDeviceInfo(const DeviceInfo& info) override;
    void restart() override;
    std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, LsbChannelInfo> getSignalsLsbInfo() override;
    std::string getChannelName(const DevicesInfo::DeviceChannelTypeInfo& key) override;
    void setSignalCount(const DevicesInfo::DeviceChannelTypeInfo& key, uint8_t count) override;
    void setDecodedFrameSink(IDecodedFrameSink* sink) override;
    void addDecodedFrameSink(IDecodedFrameSink* sink) override;
    std::vector<DecodedChannelLayout> channelLayout() const override;

    // Frames no decoder accepted since construction.
    uint32_t rejectedFrames() const;
    uint64_t blockSize() const { return m_blockSize; }

public slots:
    void slotAdcAnswer(std::vector<uint8_t> answer, int status);

private:
    struct Outgoing
    {
        bool isEvent;
        QByteArray bytes;
    };

    // Decodes m_frame and collects its points; messages to emit go to `out`.
    void handleFrame(std::vector<Outgoing>& out);
    void clearPoints();
    void setConnectedDeviceInfoLocked(const DeviceInfo& info);
    void fillLsbTable(const DeviceInfo& info);

    const uint64_t m_blockSize = AdcViewerMessage::defaultBlockSize;
    FrameParcer m_parcer;
    uint32_t m_rejectedFrames = 0;

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<FrameDecoder>> m_decoders;
    AdcViewerMessage m_message;
    Common::DateTimeObject m_startTime;
    std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, LsbChannelInfo> m_lsbTable;
    // The connected device's description channels, for the channel names;
    // a copy, so the record the device manager passed may change or go.
    bool m_hasDeviceRecord = false;
    std::vector<DevicesInfo::DeviceChannelCommonInfo> m_deviceChannels;
    IDecodedFrameSink* m_sink = nullptr;
    std::vector<IDecodedFrameSink*> m_moreSinks;
    // The frame being decoded, reused so frames need no allocation.
    std::vector<uint8_t> m_frame;
};

} // namespace Tavrix::Usb
