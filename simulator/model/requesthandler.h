#pragma once

// Carries out one request frame on the recorder state and builds its answer.
// Streaming and read-out are not run here; the outcome tells the model what
// to start or stop.

#include "recorderstate.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace Tavrix::Simulator {

struct RequestOutcome {
    std::vector<uint8_t> answer;          // the whole answer frame
    uint32_t processingMs = 0;            // how long the recorder takes to answer
    bool unknown = false;                 // answered with the error frame
    bool converterOn = false;             // converter switched from off to on
    bool converterOff = false;            // converter switched from on to off
    std::optional<uint64_t> readoutStart; // start a read-out at this address
    uint32_t readoutPayload = 0;          // bytes of memory per read-out frame
    bool readoutStop = false;
    bool restart = false;                 // the recorder restarts after answering
    bool cableReset = false;              // the cable adapter restarts
};

class RequestHandler {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr uint8_t kErrorCode = 0xEE;
    enum ErrorReason : uint8_t { UnknownCode = 1, UnknownSubCommand = 2, BadLength = 3, Refused = 4 };
    // Battery voltage (mV) below which recording is not started.
    static constexpr uint16_t kStartWritingMillivolts = 3400;
    static constexpr uint16_t kEepromSelector = 0x0500;   // bytes 00 05
    static constexpr std::size_t kEepromPortion = 16;
    static constexpr std::size_t kMaxExamText = 64;

    explicit RequestHandler(RecorderState& state);

    // `request` is a complete frame. `cableBusy`: the cable adapter is
    // restarting and does not answer.
    RequestOutcome handle(const std::vector<uint8_t>& request, bool cableBusy, Clock::time_point now);

    static std::vector<uint8_t> errorFrame(uint8_t code, uint8_t reason);
    static std::vector<uint8_t> resultFrame(uint8_t code, uint8_t result);

private:
    RequestOutcome statusItem(const std::vector<uint8_t>& data);
    RequestOutcome memoryCounter(const std::vector<uint8_t>& data);
    RequestOutcome recordMode(const std::vector<uint8_t>& data, Clock::time_point now);
    RequestOutcome ecgMode(const std::vector<uint8_t>& data);
    RequestOutcome eepromRead(const std::vector<uint8_t>& data);
    RequestOutcome eepromWrite(const std::vector<uint8_t>& data);
    RequestOutcome examInfo(const std::vector<uint8_t>& data);
    RequestOutcome cable(const std::vector<uint8_t>& data, bool cableBusy);
    RequestOutcome calibrationInfo();
    RequestOutcome calibration(uint8_t code, const std::vector<uint8_t>& data);
    RequestOutcome startReading(const std::vector<uint8_t>& data);
    uint8_t statusFlags() const;

    RecorderState& m_state;
};

} // namespace Tavrix::Simulator
