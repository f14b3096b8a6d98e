// How many recorder frames per second one core turns into signal messages:
// the channel manager's whole path (frame parser, decoders, point collection,
// MessagePack packing) fed with the ADC listener's length-prefixed hand-overs.
// The recorder sends 2000 frames per second at its fastest rate; the
// "x_realtime" counter is the measured rate divided by that.
//
// The *Recording variants run the same path while a SignalRecorder writes
// every frame to a BDF+ file (in a scratch directory); BM_BdfWriter is the
// file writer alone. One core's share spent on recording at 2000 frames/s is
// 1/x_realtime(recording) - 1/x_realtime(streaming alone).

#include "devicewebapi/beatdetectorlink.h"
#include "archive/bdfsignalwriter.h"
#include "archive/signalrecorder.h"
#include "usb/deviceinfo.h"
#include "support/signalframes.h"
#include "usb/useradcchannelsmanager.h"

#include <QByteArray>
#include <QDataStream>
#include <QObject>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <vector>

using namespace Tavrix::Usb;
using TestSupport::handOver;
using TestSupport::put24;
using TestSupport::signalFrame;
using Tavrix::DevicesInfo::DeviceChannelTypeInfo;
using Tavrix::DevicesInfo::EChannelSource;
using Tavrix::DevicesInfo::EChannelType;

namespace {

constexpr double recorderFramesPerSecond = 2000.0;
// One hand-over per 20 ms at 2000 frames/s.
constexpr uint32_t framesPerHandOver = 40;

void appendRecorderFrame(std::vector<uint8_t>& stream, uint32_t n, bool withAd)
{
    std::vector<uint8_t> frame = signalFrame(57, 0x80, 52, n);
    // Realistic ECG magnitudes: a few hundred to tens of thousands of counts,
    // both signs, so every sample encoding occurs.
    for (int slot = 0; slot < (withAd ? 15 : 13); ++slot)
        put24(frame, 4 + 3 * slot, static_cast<int32_t>((n * 7919u + slot * 104729u) % 120000u) - 60000);
    stream.insert(stream.end(), frame.begin(), frame.end());
}

void appendCableFrame(std::vector<uint8_t>& stream, uint32_t n)
{
    std::vector<uint8_t> frame = signalFrame(21, 0x81, 16, n);
    for (int axis = 0; axis < 3; ++axis)
        put24(frame, 4 + 3 * axis, static_cast<int32_t>(n * 3 + axis) - 500);
    stream.insert(stream.end(), frame.begin(), frame.end());
}

DeviceInfo device(bool withAd)
{
    const DeviceChannelTypeInfo ecg{EChannelType::Ecg, EChannelSource::Device};
    const DeviceChannelTypeInfo reo{EChannelType::Reo, EChannelSource::Device};
    const DeviceChannelTypeInfo acc{EChannelType::Acc, EChannelSource::Device};
    const DeviceChannelTypeInfo extAcc{EChannelType::Acc, EChannelSource::Cable};
    DeviceInfo info;
    info.type = withAd ? 22 : 21;
    info.visFrameFormat = withAd ? "DeviceFerrowSeriesWithAD" : "DeviceFerrowSeries";
    info.channels = {{"ecg", ecg, 8}, {"reo", reo, 2}, {"acc", acc, 3}};
    if (withAd) {
        info.channels.push_back({"prs", {EChannelType::Prs, EChannelSource::Device}, 1});
        info.channels.push_back({"ton", {EChannelType::Ton, EChannelSource::Device}, 1});
    }
    info.channels.push_back({"extAcc", extAcc, 3});
    return info;
}

// What one iteration hands the manager.
enum class EStream {
    // One hand-over of 40 recorder frames and the one cable frame that
    // arrives in the same 20 ms, repeated; frame numbers avoid the
    // every-1000th log line.
    RepeatedBlock,
    // Hand-overs of 64 recorder frames and one cable frame whose numbers run
    // through the whole 16-bit cycle, as a recorder's do: a recorder takes
    // repeated numbers for a restarted recorder.
    FrameNumberCycle,
};

void signalPipeline(benchmark::State& state, bool withAd, EStream kind, bool recording, bool beats = false)
{
    auto managerOwner = std::make_shared<UserAdcChannelsManager>(128, nullptr);
    UserAdcChannelsManager& manager = *managerOwner;
    manager.setConnectedDeviceInfo(device(withAd));
    int64_t messages = 0;
    int64_t messageBytes = 0;
    QObject::connect(&manager, &AdcChannelsManager::signalTransfer, [&](const QByteArray& message) {
        ++messages;
        messageBytes += message.size();
    });

    QTemporaryDir directory;
    Tavrix::Archive::SignalRecorder recorder(directory.path());
    if (recording) {
        recorder.attach(managerOwner);
        Tavrix::Archive::SignalRecorder::StartRequest start;
        start.sampleRate = static_cast<int>(recorderFramesPerSecond);
        start.layout = manager.channelLayout();
        QString detail;
        if (recorder.start(start, &detail) != Tavrix::Archive::SignalRecorder::EStartResult::Started) {
            state.SkipWithError(detail.toStdString().c_str());
            return;
        }
    }

    Tavrix::DeviceWebApi::BeatDetectorLink detector;
    if (beats) {
        detector.attach(managerOwner);
        detector.setFrameRate(static_cast<int>(recorderFramesPerSecond));
    }

    std::vector<std::vector<uint8_t>> blocks;
    uint32_t recorderFramesPerBlock = 0;
    if (kind == EStream::RepeatedBlock) {
        recorderFramesPerBlock = framesPerHandOver;
        std::vector<uint8_t> stream;
        for (uint32_t n = 1; n <= framesPerHandOver; ++n) {
            appendRecorderFrame(stream, n, withAd);
            if (n == framesPerHandOver / 2)
                appendCableFrame(stream, n);
        }
        blocks.push_back(handOver(stream));
    } else {
        recorderFramesPerBlock = 64;
        for (uint32_t first = 0; first < 65536; first += recorderFramesPerBlock) {
            std::vector<uint8_t> stream;
            for (uint32_t n = first; n < first + recorderFramesPerBlock; ++n) {
                appendRecorderFrame(stream, n, withAd);
                if (n == first + recorderFramesPerBlock / 2)
                    appendCableFrame(stream, n);
            }
            blocks.push_back(handOver(stream));
        }
    }
    const int64_t framesPerBlock = recorderFramesPerBlock + 1;

    std::size_t next = 0;
    for (auto _ : state) {
        manager.slotAdcAnswer(blocks[next], 0);
        next = next + 1 == blocks.size() ? 0 : next + 1;
    }
    if (recording && !recorder.isRunning())
        state.SkipWithError("the recording stopped");

    const double frames = static_cast<double>(state.iterations()) * framesPerBlock;
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(frames / recorderFramesPerSecond, benchmark::Counter::kIsRate);
    state.counters["messages"] = static_cast<double>(messages);
    state.counters["bytes_per_msg"] = messages ? static_cast<double>(messageBytes) / messages : 0.0;
    const int64_t expected = state.iterations() * recorderFramesPerBlock / framesPerHandOver;
    if (messages != expected)
        state.SkipWithError("expected one signal message per 40 recorder frames");
}

void BM_SignalPipelineFerrow8(benchmark::State& state)
{
    signalPipeline(state, false, EStream::RepeatedBlock, false);
}

void BM_SignalPipelineFerrow8AD(benchmark::State& state)
{
    signalPipeline(state, true, EStream::RepeatedBlock, false);
}

// The pair to compare: the same frames, streamed alone and streamed while recorded.
void BM_SignalPipelineFerrow8ADCycle(benchmark::State& state)
{
    signalPipeline(state, true, EStream::FrameNumberCycle, false);
}

void BM_SignalPipelineFerrow8ADRecording(benchmark::State& state)
{
    signalPipeline(state, true, EStream::FrameNumberCycle, true);
}

// The same frames streamed while the beat detector follows their ECG.
void BM_SignalPipelineFerrow8ADBeats(benchmark::State& state)
{
    signalPipeline(state, true, EStream::FrameNumberCycle, false, true);
}

// The BDF+ writer alone: 21 signals (the Ferrow 8 AD's with a cable) a frame.
void BM_BdfWriter(benchmark::State& state)
{
    using Tavrix::Archive::BdfSignalInfo;
    QTemporaryDir directory;
    Tavrix::Archive::BdfSignalWriter writer;
    const std::vector<BdfSignalInfo> signalInfos(21, BdfSignalInfo{"ECG 1", "uV"});
    if (!writer.open(directory.filePath("bench.bdf"), static_cast<int>(recorderFramesPerSecond), signalInfos, {})) {
        state.SkipWithError(writer.error().toStdString().c_str());
        return;
    }
    std::vector<int32_t> frame(signalInfos.size());
    int32_t n = 0;
    for (auto _ : state) {
        for (std::size_t s = 0; s < frame.size(); ++s)
            frame[s] = (n * 7919 + static_cast<int32_t>(s) * 104729) % 120000 - 60000;
        ++n;
        if (!writer.addSample(frame.data())) {
            state.SkipWithError(writer.error().toStdString().c_str());
            break;
        }
    }
    writer.close();
    const double frames = static_cast<double>(state.iterations());
    state.counters["x_realtime"] = benchmark::Counter(frames / recorderFramesPerSecond, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_SignalPipelineFerrow8);
BENCHMARK(BM_SignalPipelineFerrow8AD);
BENCHMARK(BM_SignalPipelineFerrow8ADCycle);
BENCHMARK(BM_SignalPipelineFerrow8ADRecording);
BENCHMARK(BM_SignalPipelineFerrow8ADBeats);
BENCHMARK(BM_BdfWriter);

BENCHMARK_MAIN();
