#include "recordermodel.h"

#include "flashreadout.h"
#include "frameassembler.h"
#include "framecodec.h"
#include "outpipe.h"
#include "recorderstate.h"
#include "requesthandler.h"
#include "signalstream.h"
#include "valuetext.h"

#include <algorithm>
#include <mutex>
#include <sstream>

namespace Tavrix::Simulator {

namespace {

// How long the cable adapter is away after ResetCable.
constexpr auto kCableResetTime = std::chrono::milliseconds(2000);

} // namespace

struct RecorderModel::Impl {
    explicit Impl(uint16_t type)
        : state(type)
        , handler(state)
    {
    }

    OutPipe* pipe(Endpoint endpoint)
    {
        switch (endpoint) {
        case Endpoint::Command: return &command;
        case Endpoint::Answer: return &answers;
        case Endpoint::Signal: return &signal;
        case Endpoint::Data: return &data;
        }
        return nullptr;
    }

    // Every entry point passes its time through here, so the clock, the
    // recording and the stream all follow the host's notion of now.
    void touch(Clock::time_point now)
    {
        if (!started) {
            started = true;
            lastNow = now;
            state.startClock(now);
            if (state.recording)
                state.setRecording(true, now);
            if (state.adcOn)
                stream.start(now);
        }
        lastNow = std::max(lastNow, now);
        state.advance(now);
        if (resyncPending) {
            // Frames that fell due while the pipes were reset (the recorder
            // was off the bus) are never sent.
            resyncPending = false;
            stream.resync(state, now);
        }
    }

    bool cableRunning(Clock::time_point now) const
    {
        return state.cablePresent && now >= cableBusyUntil;
    }

    void catchUpSignal(Clock::time_point now)
    {
        stream.catchUp(state, cableRunning(now), signal, now);
    }

    void fillData(std::size_t wanted, Clock::time_point now)
    {
        if (readout.fill(state, data, wanted, now))
            state.flashRead = true;
    }

    void handleRequest(const std::vector<uint8_t>& frame, Clock::time_point now)
    {
        ++requestsSeen;
        if (noAnswer > 0) {
            // Lost on the way: neither carried out nor answered.
            --noAnswer;
            ++requestsSwallowed;
            return;
        }
        RequestOutcome out = handler.handle(frame, !cableRunning(now) && state.cablePresent, now);
        if (out.unknown)
            ++unknownRequests;
        if (out.converterOn) {
            stream.start(now);
        } else if (out.converterOff) {
            catchUpSignal(now);
            stream.stop();
        }
        if (out.readoutStop)
            readout.stop();
        if (out.readoutStart)
            readout.start(*out.readoutStart, state.flashWrittenEnd, out.readoutPayload);
        if (out.cableReset)
            cableBusyUntil = now + std::chrono::milliseconds(out.processingMs) + kCableResetTime;

        std::vector<uint8_t> answer = std::move(out.answer);
        if (wrongLength > 0) {
            --wrongLength;
            std::vector<uint8_t> payload = FrameCodec::dataOf(answer);
            // One byte short; an empty answer gets one byte too many instead.
            if (payload.empty())
                payload.push_back(0);
            else
                payload.pop_back();
            answer = FrameCodec::build(answer[3], payload);
        }
        auto readyAt = now + std::chrono::milliseconds(out.processingMs);
        if (delayCount > 0) {
            --delayCount;
            readyAt += std::chrono::milliseconds(delayMs);
        }
        answers.pushFrame(std::move(answer), readyAt);
        ++answersSent;

        if (out.restart) {
            // Power-up state: converter on and not recording, read-out and
            // unsaved calibration gone, frame numbers from 0.
            ++restarts;
            restartRequested = true;
            readout.stop();
            data.clear();
            if (state.recording)
                state.setRecording(false, now);
            state.calibration = state.savedCalibration;
            state.adcOn = true;
            signal.clear();
            stream.setFrameNumber(0);
            stream.start(now);
        }
    }

    mutable std::mutex mutex;
    RecorderState state;
    RequestHandler handler;
    FrameAssembler assembler;
    OutPipe command;
    OutPipe answers;
    OutPipe signal;
    OutPipe data;
    SignalStream stream;
    FlashReadout readout;

    bool started = false;
    Clock::time_point lastNow{};
    Clock::time_point cableBusyUntil{};
    bool restartRequested = false;
    bool resyncPending = false;

    int noAnswer = 0;
    int delayCount = 0;
    int delayMs = 0;
    int wrongLength = 0;

    uint64_t requestsSeen = 0;
    uint64_t requestsSwallowed = 0;
    uint64_t unknownRequests = 0;
    uint64_t answersSent = 0;
    uint64_t writesWhileStalled = 0;
    uint64_t restarts = 0;
};

RecorderModel::RecorderModel(uint16_t deviceType)
    : d(std::make_unique<Impl>(deviceType))
{
}

RecorderModel::~RecorderModel() = default;

void RecorderModel::writeCommand(const std::vector<uint8_t>& bytes, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->touch(now);
    if (d->command.accessStalls()) {
        ++d->writesWhileStalled;
        return;
    }
    for (const auto& frame : d->assembler.put(bytes))
        d->handleRequest(frame, now);
}

std::vector<uint8_t> RecorderModel::read(Endpoint endpoint, std::size_t maxLength, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->touch(now);
    switch (endpoint) {
    case Endpoint::Command:
        return {};
    case Endpoint::Answer:
        return d->answers.read(maxLength, now);
    case Endpoint::Signal:
        d->catchUpSignal(now);
        return d->signal.read(maxLength, now);
    case Endpoint::Data:
        if (!d->data.isStalled())
            d->fillData(maxLength, now);
        return d->data.read(maxLength, now);
    }
    return {};
}

std::vector<uint8_t> RecorderModel::readAtCancel(Endpoint endpoint, std::size_t maxLength, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->touch(now);
    if (endpoint == Endpoint::Command)
        return {};
    if (endpoint == Endpoint::Signal)
        d->catchUpSignal(now);
    return d->pipe(endpoint)->readAtCancel(maxLength, now);
}

std::optional<Clock::time_point> RecorderModel::nextReadyTime(Endpoint endpoint, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->touch(now);
    OutPipe* pipe = d->pipe(endpoint);
    if (endpoint == Endpoint::Command)
        return std::nullopt;
    // A stalled endpoint has something to report at once: the stall.
    if (pipe->isStalled())
        return now;
    if (endpoint == Endpoint::Signal) {
        d->catchUpSignal(now);
        if (!pipe->empty())
            return pipe->nextReadyTime(now);
        const auto next = d->stream.nextFrameTime(d->state);
        return next ? std::optional<Clock::time_point>(std::max(*next, now)) : std::nullopt;
    }
    if (endpoint == Endpoint::Data)
        d->fillData(1, now);
    return pipe->nextReadyTime(now);
}

bool RecorderModel::isStalled(Endpoint endpoint) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->pipe(endpoint)->isStalled();
}

void RecorderModel::clearHalt(Endpoint endpoint)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->pipe(endpoint)->clearHalt();
}

void RecorderModel::resetPipes()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->answers.clear();
    d->signal.clear();
    d->data.clear();
    d->assembler.reset();
    d->readout.stop();
    d->resyncPending = true;
}

void RecorderModel::injectFault(const FaultSpec& fault)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (fault.count <= 0)
        return;
    OutPipe* pipe = d->pipe(fault.endpoint);
    switch (fault.kind) {
    case FaultKind::NoAnswer:
        d->noAnswer = fault.count;
        break;
    case FaultKind::DelayAnswer:
        d->delayCount = fault.count;
        d->delayMs = std::max(0, fault.delayMs);
        break;
    case FaultKind::WrongLength:
        d->wrongLength = fault.count;
        break;
    case FaultKind::Garbage:
        if (fault.endpoint != Endpoint::Command)
            pipe->addGarbage(fault.count, fault.garbageBytes);
        break;
    case FaultKind::SplitFrame:
        if (fault.endpoint != Endpoint::Command)
            pipe->addSplit(fault.count, fault.splitChunk);
        break;
    case FaultKind::Stall:
        pipe->stall(fault.count);
        break;
    case FaultKind::AnswerAtCancel:
        if (fault.endpoint != Endpoint::Command)
            pipe->holdUntilCancel(fault.count);
        break;
    }
}

void RecorderModel::clearFaults()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->noAnswer = d->delayCount = d->wrongLength = 0;
    for (OutPipe* pipe : {&d->command, &d->answers, &d->signal, &d->data})
        pipe->clearFaults();
}

void RecorderModel::pressButton()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->stream.pressButton();
}

void RecorderModel::markFrame()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->stream.markFrame();
}

uint16_t RecorderModel::playEcgRecord(std::shared_ptr<const EcgRecordPlayer> record, double offsetSeconds)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->stream.playRecord(std::move(record), offsetSeconds);
    return d->stream.frameNumber();
}

void RecorderModel::setCablePresent(bool present)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->state.cablePresent = present;
}

bool RecorderModel::takeRestartRequest()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const bool requested = d->restartRequested;
    d->restartRequested = false;
    return requested;
}

bool RecorderModel::setValue(const std::string& key, const std::string& value)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const auto now = d->lastNow;
    if (key == "frameNumber" || key == "cableFrameNumber") {
        const auto v = ValueText::toUnsigned(value, 0xFFFF);
        if (!v)
            return false;
        d->catchUpSignal(now);
        if (key == "frameNumber")
            d->stream.setFrameNumber(static_cast<uint16_t>(*v));
        else
            d->stream.setCableFrameNumber(static_cast<uint16_t>(*v));
        return true;
    }
    if (key == "adc") {
        const auto v = ValueText::toBool(value);
        if (!v)
            return false;
        if (*v && !d->state.adcOn)
            d->stream.start(now);
        if (!*v && d->state.adcOn) {
            d->catchUpSignal(now);
            d->stream.stop();
        }
        d->state.adcOn = *v;
        return true;
    }
    if (key == "frequency" || key == "frequencyCode")
        d->catchUpSignal(now);   // frames due so far keep the old rate
    return d->state.setValue(key, value, now);
}

std::string RecorderModel::stateJson() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    std::ostringstream s;
    s << '{' << d->state.jsonMembers(d->lastNow);
    auto num = [&](const char* k, uint64_t v) { s << ',' << ValueText::jsonString(k) << ':' << v; };
    num("frameNumber", d->stream.frameNumber());
    num("requestsSeen", d->requestsSeen);
    num("requestsSwallowed", d->requestsSwallowed);
    num("unknownRequests", d->unknownRequests);
    num("answersSent", d->answersSent);
    num("framesStreamed", d->stream.framesSent());
    num("cableFramesStreamed", d->stream.cableFramesSent());
    num("framesDropped", d->stream.framesDropped());
    num("buttonPressesPending", static_cast<uint64_t>(d->stream.buttonPressesPending()));
    num("marksPending", static_cast<uint64_t>(d->stream.marksPending()));
    auto steadyNs = [](SignalStream::Clock::time_point t) {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
    };
    num("lastMarkedFrameDueNs", steadyNs(d->stream.lastMarkedFrameDue()));
    num("lastButtonFrameDueNs", steadyNs(d->stream.lastButtonFrameDue()));
    num("readoutFramesSent", d->readout.framesSent());
    num("bytesReadOut", d->readout.bytesSent());
    s << ',' << ValueText::jsonString("readoutActive") << ':' << (d->readout.active() ? "true" : "false");
    num("commandBytesDiscarded", d->assembler.discardedBytes());
    num("commandFramesDropped", d->assembler.droppedFrames());
    num("writesWhileStalled", d->writesWhileStalled);
    num("garbageBytesSent", d->answers.garbageBytesSent() + d->signal.garbageBytesSent() + d->data.garbageBytesSent());
    num("restarts", d->restarts);
    num("framesReleasedAtCancel", d->answers.framesReleasedAtCancel() + d->signal.framesReleasedAtCancel()
                                      + d->data.framesReleasedAtCancel());
    s << '}';
    return s.str();
}

} // namespace Tavrix::Simulator
