// The signal path: the frame decoders and the user-facing channel manager,
// fed with the ADC listener's hand-over blocks (serialised byte arrays, one
// per endpoint read) for a device description taken from the input.
//
// Input: device record (format, channels, start time), then operations until
// the input ends: hand-over blocks, synthesised frames, signal count changes,
// restarts and new device records, in the order the USB thread may see them.

#include "fuzzsupport.h"

#include "support/channelkeys.h"
#include "support/msgpackreader.h"
#include "support/signalframes.h"
#include "usb/cableframedecoder.h"
#include "usb/deviceferrowseriesframedecoder.h"
#include "usb/deviceferrowserieswithadframedecoder.h"
#include "usb/deviceinfo.h"
#include "usb/useradcchannelsmanager.h"

#include <QByteArray>
#include <QDataStream>

using namespace Tavrix::Usb;
using namespace TestSupport::ChannelKeys;
using FuzzSupport::Bytes;
using FuzzSupport::Input;
using TestSupport::handOver;
using TestSupport::MsgReader;
using TestSupport::MsgValue;

namespace {

const char* const formats[] = {"DeviceFerrowSeries", "DeviceFerrowSeriesWithAD", "", "Unknown"};
const char* const channelNames[] = {"ecg", "reo", "acc", "prs", "ton", "oxy", "extAcc", ""};

DeviceChannelTypeInfo keyFrom(uint8_t byte)
{
    // Type 6 stands for the description's unknown type (7).
    const int type = byte % 7;
    return {static_cast<EChannelType>(type == 6 ? 7 : type),
            (byte & 0x80) ? EChannelSource::Cable : EChannelSource::Device};
}

DeviceInfo deviceFrom(Input& input)
{
    DeviceInfo info;
    const uint8_t head = input.byte();
    info.type = static_cast<uint16_t>(head & 0x0F); // 0: no description
    info.visFrameFormat = formats[(head >> 4) % 4];
    const int channels = input.byte() % 9;
    for (int i = 0; i < channels; ++i) {
        DeviceChannelCommonInfo channel;
        const uint8_t key = input.byte();
        channel.typeInfo = keyFrom(key);
        channel.name = channelNames[(key >> 3) % 8];
        channel.maxSignalCount = input.byte();
        info.channels.push_back(channel);
    }
    info.dateTime.date.year = static_cast<int16_t>(input.u16());
    info.dateTime.date.month = input.byte();
    info.dateTime.date.day = input.byte();
    info.dateTime.time.hour = input.byte();
    info.dateTime.date.unset = 0;
    info.dateTime.time.unset = 0;
    return info;
}

// Whole recorder (0x80) or cable (0x81) frames around the input's bytes, so
// the decoders see accepted frames and not only rejected ones.
Bytes synthesisedFrames(Input& input)
{
    Bytes stream;
    const int count = input.byte() % 48 + 1;
    for (int i = 0; i < count && !input.empty(); ++i) {
        const bool cable = input.byte() & 1;
        const Bytes payload = input.take(cable ? 14 : 50);
        Bytes padded = payload;
        padded.resize(cable ? 14 : 50, 0);
        const Bytes frame = FuzzSupport::frame(cable ? 0x81 : 0x80, padded.data(), padded.size());
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

// Every signal message is one MessagePack document whose channels carry
// blockSize × signalCount values.
void checkSignalMessage(const QByteArray& message)
{
    MsgValue value;
    FUZZ_CHECK(MsgReader(message).readDocument(value));
    FUZZ_CHECK(value["type"].text == "adc");
    for (const MsgValue& channel : value["channels"].items) {
        const int64_t points = channel["blockSize"].integer;
        const int64_t signalCount = channel["signalCount"].integer;
        FUZZ_CHECK(points <= static_cast<int64_t>(UserAdcChannelsManager::maxPointsPerBlock));
        FUZZ_CHECK(static_cast<int64_t>(channel["data"].items.size()) == points * signalCount);
    }
}

void checkEventMessage(const QByteArray& message)
{
    MsgValue value;
    FUZZ_CHECK(MsgReader(message).readDocument(value));
    FUZZ_CHECK(value["type"].text == "event");
}

// The decoders on their own, on one frame of the input.
void decodersAlone(const Bytes& frame)
{
    DeviceFerrowSeriesFrameDecoder ferrow;
    DeviceFerrowSeriesWithADFrameDecoder withAd(frame.empty() ? 0 : frame.back() % 16);
    CableFrameDecoder cable;
    for (FrameDecoder* decoder : {static_cast<FrameDecoder*>(&ferrow), static_cast<FrameDecoder*>(&withAd),
                                  static_cast<FrameDecoder*>(&cable)}) {
        if (!decoder->isValidFrame(frame))
            continue;
        decoder->getFrameNumber(frame);
        decoder->hasButtonLabel(frame);
        decoder->parseData(frame);
        for (const AdcChannelData& group : decoder->groups())
            FUZZ_CHECK(group.values.size() == group.count);
    }
}

} // namespace

FUZZ_QUIET_INITIALIZE()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Input input(data, size);
    UserAdcChannelsManager manager(128, nullptr);
    QObject::connect(&manager, &AdcChannelsManager::signalTransfer, checkSignalMessage);
    QObject::connect(&manager, &AdcChannelsManager::eventTransfer, checkEventMessage);

    DeviceInfo info = deviceFrom(input);
    manager.setConnectedDeviceInfo(info);

    for (int step = 0; step < 64 && !input.empty(); ++step) {
        const uint8_t op = input.byte();
        switch (op % 8) {
        case 0:
        case 1: { // raw hand-over block as the listener passes it on
            const Bytes block = input.take(input.u16() % 2048);
            manager.slotAdcAnswer(block, 0);
            break;
        }
        case 2:
        case 3: // frames, cut into reads of some size
            manager.slotAdcAnswer(handOver(synthesisedFrames(input), (op >> 3) % 128 + 1), 0);
            break;
        case 4:
            manager.setSignalCount(keyFrom(input.byte()), input.byte());
            break;
        case 5:
            manager.restart();
            break;
        case 6:
            info = deviceFrom(input);
            manager.setConnectedDeviceInfo(info);
            break;
        default: {
            const Bytes stream = synthesisedFrames(input);
            decodersAlone(stream);
            decodersAlone(Bytes(stream.begin(), stream.begin() + std::min<std::size_t>(stream.size(), 57)));
            manager.getSignalsLsbInfo();
            manager.getChannelName(keyFrom(op));
            break;
        }
        }
    }
    return 0;
}
