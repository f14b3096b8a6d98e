#include "devicewebapi/beatdetectorlink.h"

#include "common/jterminal.h"
#include "common/messagepacker.h"
#include "qrsdetector.h"
#include "usb/adcchannelsmanager.h"
#include "usb/beateventmessagepacker.h"
#include "usb/framedecoder.h"

#include <algorithm>
#include <cmath>

namespace Tavrix::DeviceWebApi {

using Common::JTerminal;
using DevicesInfo::DeviceChannelTypeInfo;
using DevicesInfo::EChannelSource;
using DevicesInfo::EChannelType;

namespace {

const DeviceChannelTypeInfo ecgKey{EChannelType::Ecg, EChannelSource::Device};
// The recorder's ECG counts are microvolts; 24-bit samples saturate at their extremes.
constexpr double millivoltsPerCount = 0.001;
constexpr double fullScaleCounts = 8388607.0;
// A measured rate within this share of a known one is that rate.
constexpr double rateTolerance = 0.25;
constexpr std::chrono::seconds rateWindow{2};
constexpr size_t intervalsForRate = 8;
// A jump back of half the numbers or more is a recorder that started counting again.
constexpr uint16_t restartJump = 0x8000;
constexpr uint32_t frameCounterModulo = 65535; // as the "buttonPush" counter

} // namespace

BeatDetectorLink::BeatDetectorLink(QObject* parent)
    : QObject(parent)
{
}

BeatDetectorLink::~BeatDetectorLink() = default;

void BeatDetectorLink::attach(const std::shared_ptr<Usb::AdcChannelsManager>& channels)
{
    if (channels)
        channels->addDecodedFrameSink(this);
}

void BeatDetectorLink::setFrameRate(int framesPerSecond)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    restartDetector(m_leads, framesPerSecond, nullptr);
}

double BeatDetectorLink::rateFromIntervals(std::vector<double> intervalsMs)
{
    if (intervalsMs.empty())
        return 0.0;
    std::sort(intervalsMs.begin(), intervalsMs.end());
    const size_t n = intervalsMs.size();
    const double median = n % 2 ? intervalsMs[n / 2] : 0.5 * (intervalsMs[n / 2 - 1] + intervalsMs[n / 2]);
    return median > 0 ? 60000.0 / median : 0.0;
}

BeatDetectorLink::HeartRate BeatDetectorLink::heartRate(Clock::time_point now) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_lastBeatFrame || now - m_lastBeatTime > staleAfter)
        return {};
    return {m_bpm, m_lastBeatFrame};
}

void BeatDetectorLink::restartDetector(int leads, int rate, const char* reason)
{
    if (reason)
        JTerminal('2') << "beat detection restarts:" << reason;
    m_leads = leads;
    m_rate = rate;
    m_haveFrame = false;
    m_havePrevious = false;
    m_intervalsMs.clear();
    m_detector.reset();
    if (leads > 0 && rate > 0) {
        m_detector = std::make_unique<Analysis::QrsDetector>(rate, leads);
        for (int i = 0; i < leads; ++i)
            m_detector->setLeadLimits(i, -fullScaleCounts * millivoltsPerCount, fullScaleCounts * millivoltsPerCount);
        m_sample.assign(static_cast<size_t>(leads), 0.0f);
    }
}

void BeatDetectorLink::measureRate(Clock::time_point now)
{
    if (m_windowFrames == 0)
        m_windowStart = now;
    ++m_windowFrames;
    const auto elapsed = now - m_windowStart;
    if (elapsed < rateWindow)
        return;
    const double measured = m_windowFrames / std::chrono::duration<double>(elapsed).count();
    m_windowFrames = 0;
    int nearest = 0;
    for (int rate : knownFrameRates)
        if (std::fabs(measured - rate) <= rateTolerance * rate)
            nearest = rate;
    if (!nearest || nearest == m_rate) {
        m_rateMismatches = 0;
        return;
    }
    // A burst after a stall can look like a faster rate once; a change must hold.
    if (m_rate != 0 && ++m_rateMismatches < 2)
        return;
    m_rateMismatches = 0;
    JTerminal('2') << "beat detection: the recorder streams" << nearest << "frames a second";
    restartDetector(m_leads, nearest, nullptr);
}

void BeatDetectorLink::handleDecodedFrame(const Usb::FrameDecoder& decoder, uint16_t frameNumber)
{
    const Usb::AdcChannelData* ecg = decoder.findGroup(ecgKey);
    if (!ecg)
        return; // a cable adapter frame, or a recorder without ECG channels
    std::vector<QByteArray> messages;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        measureRate(Clock::now());
        const int leads = static_cast<int>(std::min<size_t>(ecg->values.size(), ecg->count));
        if (leads == 0) {
            if (!m_warnedNoEcg)
                JTerminal('1') << "beat detection: the recorder streams no ECG channel";
            m_warnedNoEcg = true;
            return;
        }
        m_warnedNoEcg = false;
        if (leads != m_leads)
            restartDetector(leads, m_rate, m_leads ? "the number of ECG channels changed" : nullptr);
        if (!m_detector)
            return; // the frame rate is not known yet

        if (m_haveFrame) {
            const uint16_t gap = static_cast<uint16_t>(frameNumber - m_lastFrame - 1);
            if (gap != 0) {
                JTerminal('1') << "beat detection:"
                               << (gap >= restartJump ? std::string("recorder frame numbers restarted")
                                                      : "lost " + std::to_string(gap) + " frames")
                               << "before frame" << frameNumber << "; the detector starts again";
                restartDetector(m_leads, m_rate, nullptr);
            }
        }
        if (!m_haveFrame) {
            m_baseFrame = frameNumber;
            m_haveFrame = true;
        }
        m_lastFrame = frameNumber;

        for (int i = 0; i < leads; ++i)
            m_sample[static_cast<size_t>(i)] = static_cast<float>(ecg->values[static_cast<size_t>(i)] * millivoltsPerCount);
        std::vector<Analysis::QrsDetector::Beat> beats;
        m_detector->process(m_sample.data(), 1, beats);
        for (const auto& beat : beats) {
            const auto raw = static_cast<uint16_t>(m_baseFrame + static_cast<uint64_t>(beat.sample));
            const uint32_t frame = raw % frameCounterModulo;
            double rrMs = 0.0;
            if (m_havePrevious) {
                rrMs = (beat.sample - m_previousSample) * 1000.0 / m_rate;
                m_intervalsMs.push_back(rrMs);
                if (m_intervalsMs.size() > intervalsForRate)
                    m_intervalsMs.erase(m_intervalsMs.begin());
                m_bpm = std::round(rateFromIntervals(m_intervalsMs) * 10.0) / 10.0;
            }
            m_havePrevious = true;
            m_previousSample = beat.sample;
            m_lastBeatFrame = frame;
            m_lastBeatTime = Clock::now();

            Common::MessagePacker packer;
            packer.packMapHeader(2);
            packer << "type" << "event" << "data";
            packer.packArrayHeader(1);
            Usb::BeatEventMessagePacker(frame, static_cast<uint32_t>(std::lround(rrMs)),
                                        static_cast<uint32_t>(std::lround(m_bpm.value_or(0.0))))
                .pack(packer);
            messages.push_back(packer.data());
        }
    }
    for (const QByteArray& message : messages)
        emit beatIsReady(message);
}

} // namespace Tavrix::DeviceWebApi
