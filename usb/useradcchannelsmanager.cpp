#include "usb/useradcchannelsmanager.h"

#include "common/jterminal.h"
#include "common/messagepacker.h"
#include "devicecomplexcommands/orvimlsbcreators.h"
#include "usb/deviceinfo.h"
#include "usb/pushbuttoneventmessagepacker.h"
#include "usb/usbadclistener.h"
#include "usb/visframedecoderfactory.h"

#include <algorithm>
#include <iostream>

namespace Tavrix::Usb {

using DevicesInfo::DeviceChannelTypeInfo;
using DevicesInfo::EChannelSource;
using DevicesInfo::EChannelType;

namespace DC = DeviceComplexCommands;

namespace {

// Frame numbers run modulo this in the messages.
constexpr uint32_t frameCounterModulo = 65535;

// Scale information offered to the calibration commands, per channel key.
// The creators are made per device; a null factory leaves the entry's
// creator empty until the calibration side provides one for that type.
struct LsbTableRow
{
    DeviceChannelTypeInfo key;
    uint8_t code;
    // 0: the "MaxSignalCount" of the description channel named "ecg".
    uint64_t signalCount;
    std::shared_ptr<ILsbCreator> (*createLsbCreator)();
    std::shared_ptr<ICalibrationInfoCreator> (*createCalibrationInfoCreator)();
};

const LsbTableRow lsbTable[] = {
    {{EChannelType::Ecg, EChannelSource::Device}, 0, 0, &DC::makeLsbCreator<DC::OrvimEcgLsbCreator>,
     &DC::makeCalibrationInfoCreator<DC::OrvimEcgCalibrationInfoCreator>},
    {{EChannelType::Reo, EChannelSource::Device}, 3, 2, &DC::makeLsbCreator<DC::OrvimReoLsbCreator>,
     &DC::makeCalibrationInfoCreator<DC::OrvimReoCalibrationInfoCreator>},
    {{EChannelType::Acc, EChannelSource::Device}, 1, 3, &DC::makeLsbCreator<DC::OrvimInnerAccLsbCreator>,
     &DC::makeCalibrationInfoCreator<DC::OrvimInnerAccCalibrationInfoCreator>},
    {{EChannelType::Acc, EChannelSource::Cable}, 1, 3, &DC::makeLsbCreator<DC::OrvimExternAccLsbCreator>,
     &DC::makeCalibrationInfoCreator<DC::OrvimExternAccCalibrationInfoCreator>},
    {{EChannelType::Prs, EChannelSource::Device}, 7, 1, &DC::makeLsbCreator<DC::OrvimPrsLsbCreator>,
     &DC::makeCalibrationInfoCreator<DC::OrvimPrsCalibrationInfoCreator>},
    {{EChannelType::Ton, EChannelSource::Device}, 8, 1, &DC::makeLsbCreator<DC::OrvimTonLsbCreator>,
     &DC::makeCalibrationInfoCreator<DC::OrvimTonCalibrationInfoCreator>},
    {{EChannelType::Oxy, EChannelSource::Device}, 6, 3, &DC::makeLsbCreator<DC::OrvimOxyLsbCreator>,
     &DC::makeCalibrationInfoCreator<DC::OrvimOxyCalibrationInfoCreator>},
};

} // namespace

UserAdcChannelsManager::UserAdcChannelsManager(unsigned int adcBufferSize,
                                               UsbAdcListener<131>* listener,
                                               QObject* parent)
    : AdcChannelsManager(parent)
    , m_parcer(adcBufferSize)
{
    m_frame.reserve(adcBufferSize);
    if (listener) {
        connect(listener,
                &UsbEndPoint::signalAnswer,
                this,
                &UserAdcChannelsManager::slotAdcAnswer,
                Qt::QueuedConnection);
    }
}

UserAdcChannelsManager::~UserAdcChannelsManager() = default;

uint32_t UserAdcChannelsManager::rejectedFrames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rejectedFrames;
}

void UserAdcChannelsManager::slotAdcAnswer(std::vector<uint8_t> answer, int)
{
    std::vector<Outgoing> out;
    HandOverBytes bytes(answer);
    bool more = true;
    while (more) {
        out.clear();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            bool frameDone = false;
            uint8_t byte = 0;
            while (!frameDone && (more = bytes.next(byte))) {
                if (m_parcer.put(byte)) {
                    m_frame.assign(m_parcer.data(), m_parcer.data() + m_parcer.size());
                    handleFrame(out);
                    frameDone = true;
                }
            }
        }
        // Emitted outside the lock: a directly connected receiver may call
        // back into the manager.
        for (const Outgoing& message : out) {
            if (message.isEvent)
                emit eventTransfer(message.bytes);
            else
                emit signalTransfer(message.bytes);
        }
    }
}

void UserAdcChannelsManager::handleFrame(std::vector<Outgoing>& out)
{
    FrameDecoder* decoder = nullptr;
    for (const std::shared_ptr<FrameDecoder>& candidate : m_decoders) {
        if (candidate->isValidFrame(m_frame)) {
            decoder = candidate.get();
            break;
        }
    }
    if (!decoder) {
        ++m_rejectedFrames;
        return;
    }

    const uint32_t frameCounter = decoder->getFrameNumber(m_frame) % frameCounterModulo;
    decoder->setFrameCounter(frameCounter);
    decoder->setButtonFlag(decoder->hasButtonLabel(m_frame));
    decoder->parseData(m_frame);
    if (m_sink)
        m_sink->handleDecodedFrame(*decoder, static_cast<uint16_t>(decoder->getFrameNumber(m_frame)));
    for (IDecodedFrameSink* sink : m_moreSinks)
        sink->handleDecodedFrame(*decoder, static_cast<uint16_t>(decoder->getFrameNumber(m_frame)));

    if (decoder->buttonFlag()) {
        std::cout << "Button event" << std::endl;
        Common::MessagePacker packer;
        packer.packMapHeader(2);
        packer << "type" << "event";
        packer << "data";
        packer.packArrayHeader(1);
        PushButtonEventMessagePacker(frameCounter).pack(packer);
        out.push_back({true, packer.data()});
    }

    if (frameCounter % 1000 == 0)
        Common::JTerminal('1') << frameCounter << m_rejectedFrames;

    bool blockReady = false;
    for (const AdcChannelData& group : decoder->groups()) {
        AdcViewerChannel* channel = m_message.findChannel(group.key);
        if (channel && channel->pointCount < maxPointsPerBlock) {
            const std::size_t signalCount = channel->signalCount;
            const std::size_t first = static_cast<std::size_t>(channel->pointCount) * signalCount;
            ++channel->pointCount;
            channel->values.resize(first + signalCount);
            const std::size_t available = std::min(signalCount, group.values.size());
            std::copy_n(group.values.begin(), available, channel->values.begin() + first);
            std::fill(channel->values.begin() + first + available, channel->values.end(), 0);
        }
        // Blocks are counted in frames carrying the reference group, whether
        // or not the description names a channel for it.
        if (group.key == m_message.referenceKey()) {
            const uint64_t points = m_message.pointCounter() + 1;
            if (points >= m_message.blockSize()) {
                m_message.setPointCounter(0);
                blockReady = true;
            } else {
                m_message.setPointCounter(points);
            }
        }
    }

    if (blockReady) {
        out.push_back({false, m_message.getAdcBson()});
        clearPoints();
    }
}

void UserAdcChannelsManager::clearPoints()
{
    for (const std::shared_ptr<AdcViewerChannel>& channel : m_message.channels()) {
        channel->pointCount = 0;
        channel->values.clear(); // keeps the capacity for the next block
    }
}

void UserAdcChannelsManager::fillLsbTable(const DeviceInfo& info)
{
    const uint8_t ecgCount = VisFrameDecoderFactory::ecgSignalCount(info);
    for (const LsbTableRow& row : lsbTable) {
        LsbChannelInfo entry;
        entry.code = row.code;
        entry.signalCount = row.signalCount != 0 ? row.signalCount : ecgCount;
        if (row.createLsbCreator)
            entry.lsbCreator = row.createLsbCreator();
        if (row.createCalibrationInfoCreator)
            entry.calibrationInfoCreator = row.createCalibrationInfoCreator();
        m_lsbTable[row.key] = entry;
    }
}

void UserAdcChannelsManager::setConnectedDeviceInfo(const DeviceInfo& info)
{
    setConnectedDeviceInfoLocked(info);
    emit channelLayoutIsChanged(QStringLiteral("Recorder identified"));
}

void UserAdcChannelsManager::setConnectedDeviceInfoLocked(const DeviceInfo& info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lsbTable.clear();
    m_hasDeviceRecord = info.type != 0;
    if (m_hasDeviceRecord)
        m_deviceChannels = info.channels;
    else
        m_deviceChannels.clear();
    m_startTime = info.dateTime;
    m_message.setTimeText(AdcViewerMessage::getTimeText(m_startTime));
    m_message.setPointCounter(0);
    m_message.channels().clear();

    m_decoders = VisFrameDecoderFactory::create(info);
    fillLsbTable(info);

    for (const std::shared_ptr<FrameDecoder>& decoder : m_decoders) {
        for (const DevicesInfo::DeviceChannelCommonInfo& description : info.channels) {
            const AdcChannelData* group = decoder->findGroup(description.typeInfo);
            if (!group)
                continue;
            auto channel = std::make_shared<AdcViewerChannel>();
            channel->key = description.typeInfo;
            channel->name = description.name;
            channel->decoder = decoder;
            channel->signalCount = static_cast<uint8_t>(
                std::min<uint64_t>(description.maxSignalCount, group->count));
            channel->values.reserve(m_blockSize * channel->signalCount);
            m_message.channels().push_back(std::move(channel));
        }
    }
}

void UserAdcChannelsManager::restart()
{
    std::cout << std::endl;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_parcer.reset();
        m_message.setTimeText(AdcViewerMessage::getTimeText(m_startTime));
        m_message.setPointCounter(0);
        clearPoints();
        m_lsbTable.clear();
        m_decoders.clear();
    }
    emit channelLayoutIsChanged(QStringLiteral("Recorder reopened"));
}

void UserAdcChannelsManager::setSignalCount(const DeviceChannelTypeInfo& key, uint8_t count)
{
    std::cout << std::endl;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        AdcViewerChannel* channel = m_message.findChannel(key);
        if (!channel)
            return;
        if (channel->decoder)
            channel->decoder->setGroupCount(key, count);
        changed = channel->signalCount != count;
        channel->signalCount = count;
        channel->values.assign(static_cast<std::size_t>(channel->pointCount) * count, 0);
    }
    // The ECG mode is polled and set again and again; only a real change counts.
    if (changed)
        emit channelLayoutIsChanged(QStringLiteral("ECG mode changed"));
}

void UserAdcChannelsManager::setDecodedFrameSink(IDecodedFrameSink* sink)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sink = sink;
}

void UserAdcChannelsManager::addDecodedFrameSink(IDecodedFrameSink* sink)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (sink)
        m_moreSinks.push_back(sink);
}

std::vector<DecodedChannelLayout> UserAdcChannelsManager::channelLayout() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<DecodedChannelLayout> layout;
    if (m_decoders.empty())
        return layout;
    for (const std::shared_ptr<AdcViewerChannel>& channel : m_message.channels())
        layout.push_back({channel->key, channel->name, channel->signalCount});
    return layout;
}

std::string UserAdcChannelsManager::getChannelName(const DeviceChannelTypeInfo& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_hasDeviceRecord)
        return {};
    for (const DevicesInfo::DeviceChannelCommonInfo& channel : m_deviceChannels) {
        if (channel.typeInfo == key)
            return channel.name;
    }
    return {};
}

std::unordered_map<DeviceChannelTypeInfo, LsbChannelInfo> UserAdcChannelsManager::getSignalsLsbInfo()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lsbTable;
}

} // namespace Tavrix::Usb
