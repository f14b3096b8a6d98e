#pragma once

#include "usb/idecodedframesink.h"

#include <QByteArray>
#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace Tavrix::Analysis {
class QrsDetector;
}

namespace Tavrix::Usb {
class AdcChannelsManager;
}

namespace Tavrix::DeviceWebApi {

// Feeds the recorder's live ECG channels to the beat detector (analysis/)
// as the signal recorder is fed, and turns its beats into "beat" events and
// the heart rate that "GetHeartRate" answers.
//
// The frame rate is measured from the frames' arrival (the recorder streams
// at 250, 500, 1000 or 2000 frames a second, far enough apart to tell by a
// clock); lost frames restart the detector, so no beat is made of a splice.
// The detector costs well under a microsecond a frame, so it runs in the
// channel manager's own call, before the frame's signal message is sent.
class BeatDetectorLink : public QObject, public Usb::IDecodedFrameSink
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;
    // A heart rate older than this is no heart rate.
    static constexpr std::chrono::seconds staleAfter{5};
    static constexpr int knownFrameRates[] = {250, 500, 1000, 2000};

    explicit BeatDetectorLink(QObject* parent = nullptr);
    ~BeatDetectorLink() override;

    void attach(const std::shared_ptr<Usb::AdcChannelsManager>& channels);
    // Sets the frame rate instead of waiting for it to be measured (a
    // measured known rate still replaces it).
    void setFrameRate(int framesPerSecond);

    // Called by the channel manager, in its thread.
    void handleDecodedFrame(const Usb::FrameDecoder& decoder, uint16_t frameNumber) override;

    struct HeartRate
    {
        std::optional<double> bpm;
        std::optional<uint32_t> lastBeatFrame;
    };
    // Null fields when no beat came for `staleAfter`.
    HeartRate heartRate(Clock::time_point now = Clock::now()) const;

    // The median of the last (up to) eight beat intervals, as a rate.
    static double rateFromIntervals(std::vector<double> intervalsMs);

signals:
    // A whole event message ({"type":"event","data":[{"type":"beat",...}]}).
    void beatIsReady(QByteArray message);

private:
    void restartDetector(int leads, int rate, const char* reason);
    void measureRate(Clock::time_point now);

    mutable std::mutex m_mutex;
    std::unique_ptr<Analysis::QrsDetector> m_detector;
    int m_rate = 0;          // frames a second the detector runs at; 0 while unknown
    int m_leads = 0;
    uint16_t m_baseFrame = 0; // recorder frame number of the detector's sample 0
    bool m_haveFrame = false;
    uint16_t m_lastFrame = 0;
    std::vector<float> m_sample;

    Clock::time_point m_windowStart{};
    uint64_t m_windowFrames = 0;
    int m_rateMismatches = 0;

    bool m_havePrevious = false;
    int64_t m_previousSample = 0;
    std::vector<double> m_intervalsMs;
    std::optional<double> m_bpm;
    std::optional<uint32_t> m_lastBeatFrame;
    Clock::time_point m_lastBeatTime{};
    bool m_warnedNoEcg = false;
};

} // namespace Tavrix::DeviceWebApi
