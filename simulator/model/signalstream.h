#pragma once

// The recorder's signal frames on 0x83, generated from elapsed time: frame k
// after the converter was switched on is due at start + (k + 1) / frequency,
// cable adapter frames at 26 Hz in between. Nothing runs by itself; the model
// catches up whenever the host looks at the endpoint.

#include "ecgrecordplayer.h"
#include "ecgwaveform.h"
#include "outpipe.h"
#include "recorderstate.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace Tavrix::Simulator {

class SignalStream {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint32_t kCableFrequency = 26;

    void start(Clock::time_point now);
    void stop();
    bool running() const { return m_running; }
    // Forgets frames due before `now` without counting them as dropped (after
    // a USB reset the host never expected them).
    void resync(const RecorderState& state, Clock::time_point now);

    // Queues every frame due by `now`. When more than the state's backlog
    // would be waiting, the oldest whole frames are dropped and counted.
    void catchUp(const RecorderState& state, bool cableRunning, OutPipe& pipe, Clock::time_point now);
    // When the next frame falls due, if the converter is on.
    std::optional<Clock::time_point> nextFrameTime(const RecorderState& state) const;

    // Plays `record` from `offsetSeconds` into it, starting with the next frame
    // made; null goes back to the synthetic waveform.
    void playRecord(std::shared_ptr<const EcgRecordPlayer> record, double offsetSeconds);
    const EcgRecordPlayer* record() const { return m_record.get(); }

    void pressButton() { ++m_buttonPresses; }
    // The next device frame carries kMarkerValue in every ECG slot, so a
    // test instrument can recognise it downstream and time it against its
    // due time.
    void markFrame() { ++m_marksPending; }
    static constexpr int32_t kMarkerValue = 8388607; // the largest 24-bit sample; no waveform reaches it
    void setFrameNumber(uint16_t n) { m_frameNumber = n; }
    void setCableFrameNumber(uint16_t n) { m_cableFrameNumber = n; }
    uint16_t frameNumber() const { return m_frameNumber; }

    uint64_t framesSent() const { return m_framesSent; }
    uint64_t cableFramesSent() const { return m_cableFramesSent; }
    uint64_t framesDropped() const { return m_framesDropped; }
    int buttonPressesPending() const { return m_buttonPresses; }
    int marksPending() const { return m_marksPending; }
    // Due times (steady clock) of the last marked and the last button-flagged
    // frame; the clock's epoch when there was none.
    Clock::time_point lastMarkedFrameDue() const { return m_lastMarkedDue; }
    Clock::time_point lastButtonFrameDue() const { return m_lastButtonDue; }

private:
    static uint64_t dueCount(Clock::time_point since, uint32_t frequency, Clock::time_point now);
    static Clock::time_point dueTime(Clock::time_point since, uint32_t frequency, uint64_t index);
    std::vector<uint8_t> deviceFrame(const RecorderState& state, uint32_t frequency, Clock::time_point due);
    std::vector<uint8_t> cableFrame();

    bool m_running = false;
    Clock::time_point m_since{};
    uint32_t m_frequency = 0;
    uint64_t m_generated = 0;
    bool m_cableRunning = false;
    Clock::time_point m_cableSince{};
    uint64_t m_cableGenerated = 0;

    double m_seconds = 0.0;         // waveform time, continuous across restarts
    double m_cuffMmHg = 0.0;
    uint16_t m_frameNumber = 0;
    uint16_t m_cableFrameNumber = 0;
    int m_buttonPresses = 0;
    int m_marksPending = 0;
    Clock::time_point m_lastMarkedDue{};
    Clock::time_point m_lastButtonDue{};
    EcgWaveform m_ecg;
    std::shared_ptr<const EcgRecordPlayer> m_record;
    double m_recordStart = 0.0; // waveform time at which the record's offset plays

    uint64_t m_framesSent = 0;
    uint64_t m_cableFramesSent = 0;
    uint64_t m_framesDropped = 0;
};

} // namespace Tavrix::Simulator
