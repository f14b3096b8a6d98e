#pragma once

// The simulated Orvim recorder: plain C++, no USB, no GLib, no Qt.
// It sees the recorder's side of the four bulk endpoints: what the host
// writes on 0x04 and what the host may read from 0x85 (answers), 0x83
// (signal frames) and 0x86 (memory read-out). The USB attachment calls it
// from its own threads, so every public member is thread-safe.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Tavrix::Simulator {

using Clock = std::chrono::steady_clock;

class EcgRecordPlayer;

enum class Endpoint : uint8_t {
    Command = 0x04,   // host -> recorder, request frames
    Answer = 0x85,    // recorder -> host, answer frames
    Signal = 0x83,    // recorder -> host, signal frames while streaming
    Data = 0x86,      // recorder -> host, memory read-out frames
};

// Faults a test can ask for. Each applies to the next `count` events it
// concerns (requests for answer faults, reads for read faults).
enum class FaultKind {
    NoAnswer,       // requests are swallowed: no answer frame at all
    DelayAnswer,    // answers become readable only after `delayMs`
    WrongLength,    // answer payload shortened by one byte (length field kept consistent)
    Garbage,        // `garbageBytes` junk bytes are put before the next frame on `endpoint`
    SplitFrame,     // the next frame on `endpoint` is delivered over several reads of at most `splitChunk` bytes
    Stall,          // `endpoint` reports a stall (EPIPE) until the host clears the halt
    AnswerAtCancel, // the next frame on `endpoint` is held until the host cancels a read, then completes that read
};

struct FaultSpec {
    FaultKind kind = FaultKind::NoAnswer;
    Endpoint endpoint = Endpoint::Answer;
    int count = 1;
    int delayMs = 0;
    int garbageBytes = 5;
    int splitChunk = 3;
};

class RecorderModel {
public:
    // `deviceType` selects the identity and frame format (see docs/protocol.md
    // for the types the shipped descriptions know).
    explicit RecorderModel(uint16_t deviceType = 0);
    ~RecorderModel();
    RecorderModel(const RecorderModel&) = delete;
    RecorderModel& operator=(const RecorderModel&) = delete;

    // One completed bulk OUT transfer on 0x04. May hold several frames or a
    // partial one; the model reassembles and answers each complete request.
    void writeCommand(const std::vector<uint8_t>& bytes, Clock::time_point now);

    // One bulk IN read of at most `maxLength` bytes. Returns what is ready at
    // `now` (possibly nothing). Never blocks.
    std::vector<uint8_t> read(Endpoint endpoint, std::size_t maxLength, Clock::time_point now);

    // The host cancelled a pending read on `endpoint`: what an AnswerAtCancel
    // fault held is returned for that read (possibly nothing).
    std::vector<uint8_t> readAtCancel(Endpoint endpoint, std::size_t maxLength, Clock::time_point now);

    // When the next byte on `endpoint` becomes readable, if anything is
    // scheduled at all; lets the attachment sleep instead of polling.
    std::optional<Clock::time_point> nextReadyTime(Endpoint endpoint, Clock::time_point now);

    // Stall state of an endpoint (FaultKind::Stall) and its clearing by the
    // host's CLEAR_HALT.
    bool isStalled(Endpoint endpoint) const;
    void clearHalt(Endpoint endpoint);

    // Drops every queued byte of every IN endpoint, as a power cycle or
    // USB reset would. Recorder state (clock, EEPROM, ...) is kept.
    void resetPipes();

    // Test controls.
    void injectFault(const FaultSpec& fault);
    void clearFaults();
    void pressButton();
    // The next signal frame carries the marker value in its ECG samples.
    void markFrame();
    void setCablePresent(bool present);
    // Plays a recorded ECG (see EcgRecordPlayer) from `offsetSeconds` into it,
    // or the synthetic waveform again when `record` is null. Returns the frame
    // number of the first frame that carries it.
    uint16_t playEcgRecord(std::shared_ptr<const EcgRecordPlayer> record, double offsetSeconds = 0.0);

    // Generic state access for the control interface: `key` names one piece
    // of state (documented in docs/simulator.md); returns false for an
    // unknown key or an unparsable value.
    bool setValue(const std::string& key, const std::string& value);
    // True once after the recorder answered a Restart request: it is about to
    // leave the bus and come back (the attachment plays the unplug/re-plug).
    bool takeRestartRequest();
    // All state as one JSON object text (flat keys, as accepted by setValue
    // where writable) plus counters: requests seen, answers sent, frames
    // streamed, bytes read out.
    std::string stateJson() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace Tavrix::Simulator
