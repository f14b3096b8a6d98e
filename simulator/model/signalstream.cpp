#include "signalstream.h"

#include "framecodec.h"

#include <algorithm>
#include <cmath>

namespace Tavrix::Simulator {

namespace {

constexpr double kPi = 3.14159265358979323846;

void putSample(std::vector<uint8_t>& frame, std::size_t at, int32_t value)
{
    value = std::clamp(value, -8388608, 8388607);
    const uint32_t raw = static_cast<uint32_t>(value) & 0xFFFFFF;
    frame[at] = static_cast<uint8_t>(raw);
    frame[at + 1] = static_cast<uint8_t>(raw >> 8);
    frame[at + 2] = static_cast<uint8_t>(raw >> 16);
}

} // namespace

void SignalStream::start(Clock::time_point now)
{
    m_running = true;
    m_since = now;
    m_generated = 0;
    m_frequency = 0;
    m_cableRunning = false;
}

void SignalStream::playRecord(std::shared_ptr<const EcgRecordPlayer> record, double offsetSeconds)
{
    m_record = std::move(record);
    m_recordStart = m_seconds - offsetSeconds;
}

void SignalStream::stop()
{
    m_running = false;
}

uint64_t SignalStream::dueCount(Clock::time_point since, uint32_t frequency, Clock::time_point now)
{
    if (now <= since)
        return 0;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - since).count();
    return static_cast<uint64_t>(ns) / 1000 * frequency / 1000000;
}

SignalStream::Clock::time_point SignalStream::dueTime(Clock::time_point since, uint32_t frequency, uint64_t index)
{
    const auto us = (index + 1) * 1000000 / frequency + ((index + 1) * 1000000 % frequency ? 1 : 0);
    return since + std::chrono::microseconds(us);
}

void SignalStream::resync(const RecorderState& state, Clock::time_point now)
{
    if (m_running && m_frequency) {
        const uint64_t due = dueCount(m_since, m_frequency, now);
        m_seconds += static_cast<double>(due - std::min(due, m_generated)) / m_frequency;
        m_generated = std::max(m_generated, due);
    }
    if (m_cableRunning)
        m_cableGenerated = std::max(m_cableGenerated, dueCount(m_cableSince, kCableFrequency, now));
    (void)state;
}

std::optional<SignalStream::Clock::time_point> SignalStream::nextFrameTime(const RecorderState& state) const
{
    if (!m_running)
        return std::nullopt;
    const uint32_t f = state.streamFrequency();
    if (f != m_frequency || m_frequency == 0)
        return m_since;
    return dueTime(m_since, m_frequency, m_generated);
}

void SignalStream::catchUp(const RecorderState& state, bool cableRunning, OutPipe& pipe, Clock::time_point now)
{
    const uint32_t frequency = state.streamFrequency();
    if (m_running && frequency != m_frequency) {
        // A new rate counts from the last frame sent (or the start).
        if (m_frequency != 0 && m_generated > 0)
            m_since = dueTime(m_since, m_frequency, m_generated - 1);
        m_frequency = frequency;
        m_generated = 0;
    }
    if (cableRunning && !m_cableRunning) {
        m_cableSince = now;
        m_cableGenerated = 0;
    }
    m_cableRunning = cableRunning;

    const std::size_t backlog = std::max<std::size_t>(1, state.backlogFrames);
    uint64_t deviceDue = m_running ? dueCount(m_since, m_frequency, now) : m_generated;
    uint64_t cableDue = m_cableRunning && m_running ? dueCount(m_cableSince, kCableFrequency, now) : m_cableGenerated;

    // Frames that would be dropped anyway are only counted, not built.
    auto skip = [&](uint64_t due, uint64_t& generated, bool device) {
        if (due - generated <= backlog)
            return;
        const uint64_t n = due - generated - backlog;
        generated += n;
        m_framesDropped += n;
        if (device) {
            m_frameNumber = static_cast<uint16_t>(m_frameNumber + n);
            m_seconds += static_cast<double>(n) / m_frequency;
        } else {
            m_cableFrameNumber = static_cast<uint16_t>(m_cableFrameNumber + n);
        }
    };
    if (m_running) {
        skip(deviceDue, m_generated, true);
        skip(cableDue, m_cableGenerated, false);
    }

    while (m_running && (m_generated < deviceDue || m_cableGenerated < cableDue)) {
        const bool cableFirst = m_cableGenerated < cableDue &&
                                (m_generated >= deviceDue ||
                                 dueTime(m_cableSince, kCableFrequency, m_cableGenerated) < dueTime(m_since, m_frequency, m_generated));
        if (cableFirst) {
            pipe.pushFrame(cableFrame(), dueTime(m_cableSince, kCableFrequency, m_cableGenerated));
            ++m_cableGenerated;
        } else {
            const Clock::time_point due = dueTime(m_since, m_frequency, m_generated);
            pipe.pushFrame(deviceFrame(state, m_frequency, due), due);
            ++m_generated;
        }
    }
    m_framesDropped += pipe.dropOldestFrames(backlog);
}

std::vector<uint8_t> SignalStream::deviceFrame(const RecorderState& state, uint32_t frequency, Clock::time_point due)
{
    std::vector<uint8_t> data(50, 0);
    const double t = m_seconds;
    m_ecg.setHeartRate(state.heartRate);
    const auto leads = m_record ? m_record->leads(t - m_recordStart) : m_ecg.leads(t);
    // Mode bytes 1, 2, 3 carry 1, 3, 3 leads in the first slots; X, Y, Z for
    // the orthogonal mode 3.
    std::size_t used = 8;
    std::array<int, 8> pick{0, 1, 2, 3, 4, 5, 6, 7};
    switch (state.ecgMode) {
    case 1: used = 1; pick = {1}; break;
    case 2: used = 3; pick = {0, 1, 5}; break;
    case 3: used = 3; pick = {0, 6, 2}; break;
    default: break;
    }
    const bool marked = m_marksPending > 0;
    if (marked) {
        --m_marksPending;
        m_lastMarkedDue = due;
    }
    for (std::size_t i = 0; i < used; ++i)
        putSample(data, i * 3, marked ? kMarkerValue : leads[static_cast<std::size_t>(pick[i])]);

    // Reo (milliohm counts): thoracic impedance with breathing and a small
    // pulse wave; only while the reo switch is on.
    if (state.profile.hasReo && state.reo) {
        const double breath = std::sin(2 * kPi * 0.25 * t);
        const double pulse = m_ecg.referenceMicrovolts(t - 0.12) / 1200.0;
        putSample(data, 24, static_cast<int32_t>(450000 + 2500 * breath - 180 * pulse));
        putSample(data, 27, static_cast<int32_t>(-40 * pulse + 300 * std::cos(2 * kPi * 0.25 * t)));
    }
    // Accelerometer (milli-g): lying slightly tilted, breathing movement.
    putSample(data, 30, static_cast<int32_t>(60 + 15 * std::sin(2 * kPi * 0.25 * t)));
    putSample(data, 33, static_cast<int32_t>(-120 + 8 * std::sin(2 * kPi * 0.5 * t)));
    putSample(data, 36, static_cast<int32_t>(985 + 5 * std::cos(2 * kPi * 0.25 * t)));

    std::size_t buttonAt = 39;
    if (state.profile.format == SignalFormat::FerrowWithAD) {
        // Cuff pressure in 0.01 mmHg: the pump inflates, the open vent deflates.
        const double dt = 1.0 / frequency;
        if (state.pump && !state.vent)
            m_cuffMmHg = std::min(260.0, m_cuffMmHg + 15.0 * dt);
        else if (state.vent)
            m_cuffMmHg = std::max(0.0, m_cuffMmHg - 6.0 * dt);
        putSample(data, 39, static_cast<int32_t>(m_cuffMmHg * 100));
        // Korotkoff sounds: beats heard while the cuff is between the
        // diastolic and systolic pressure.
        const bool audible = m_cuffMmHg > 80 && m_cuffMmHg < 125;
        putSample(data, 42, audible ? static_cast<int32_t>(m_ecg.referenceMicrovolts(t - 0.15) * 4) : 0);
        buttonAt = 45;
    }
    if (m_buttonPresses > 0) {
        --m_buttonPresses;
        data[buttonAt] = 0x01;
        m_lastButtonDue = due;
    }
    data[48] = static_cast<uint8_t>(m_frameNumber & 0xFF);
    data[49] = static_cast<uint8_t>(m_frameNumber >> 8);
    ++m_frameNumber;
    m_seconds += 1.0 / frequency;
    ++m_framesSent;
    return FrameCodec::build(0x80, data);
}

std::vector<uint8_t> SignalStream::cableFrame()
{
    std::vector<uint8_t> data(14, 0);
    const double t = m_seconds;
    putSample(data, 0, static_cast<int32_t>(30 * std::sin(2 * kPi * 0.2 * t)));
    putSample(data, 3, static_cast<int32_t>(990 + 10 * std::cos(2 * kPi * 0.25 * t)));
    putSample(data, 6, static_cast<int32_t>(-45 + 12 * std::sin(2 * kPi * 0.25 * t)));
    data[12] = static_cast<uint8_t>(m_cableFrameNumber & 0xFF);
    data[13] = static_cast<uint8_t>(m_cableFrameNumber >> 8);
    ++m_cableFrameNumber;
    ++m_cableFramesSent;
    return FrameCodec::build(0x81, data);
}

} // namespace Tavrix::Simulator
