#include "usb/bytecommandqueue.h"

#include "common/bytearrayprovider.h"
#include "common/jterminal.h"
#include "common/simplelogger.h"
#include "usb/devicecommand.h"
#include "usb/recorderframe.h"

#include <optional>
#include <utility>

namespace Tavrix::Usb {

ByteCommandQueue::ByteCommandQueue(UsbCmdWriter<4>* writer, UsbCmdListener<133>* listener, QObject* parent)
    : QObject(parent)
    , m_writer(writer)
    , m_listener(listener)
{
    UsbEndPoint::registerMetaTypes();
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setTimerType(Qt::PreciseTimer);
    if (m_listener != nullptr)
        connect(m_listener,
                &UsbEndPoint::signalAnswer,
                this,
                &ByteCommandQueue::handleCommandAnswerThreadSafe,
                Qt::QueuedConnection);
    connect(&m_answerTimer, &QTimer::timeout, this, &ByteCommandQueue::handleCommandTimeout);
    m_sweepTimer.setInterval(sweepIntervalMs);
    connect(&m_sweepTimer, &QTimer::timeout, this, &ByteCommandQueue::sweepWaiting);
}

ByteCommandQueue::RequesterScope::RequesterScope(ByteCommandQueue& queue, std::shared_ptr<CommandRequester> requester)
    : m_queue(queue)
    , m_previous(std::exchange(queue.m_scopeRequester, std::move(requester)))
{
}

ByteCommandQueue::RequesterScope::~RequesterScope()
{
    m_queue.m_scopeRequester = std::move(m_previous);
}

unsigned int ByteCommandQueue::generateUid()
{
    std::lock_guard lock(m_uidMutex);
    ++m_uid;
    if (m_uid > uidLimit)
        m_uid = 0;
    return m_uid;
}

void ByteCommandQueue::enqueue(std::shared_ptr<ByteCommand> command)
{
    if (!command)
        return;
    if (!command->requester() && m_scopeRequester)
        command->setRequester(m_scopeRequester);
    command->markQueued();
    std::lock_guard lock(m_mutex);
    m_waiting.push_back(std::move(command));
    executeNextCommand();
    if (!m_waiting.empty() && !m_sweepTimer.isActive())
        m_sweepTimer.start();
}

const char* ByteCommandQueue::whyUnsendable(const ByteCommand& command) const
{
    const std::shared_ptr<CommandRequester>& requester = command.requester();
    if (requester && !requester->hasStarted() && requester->isGone())
        return "its client has gone";
    if (command.msSinceQueued() > m_maxWaitMs)
        return "it waited too long in the queue";
    return nullptr;
}

void ByteCommandQueue::finishUnsent(const std::shared_ptr<ByteCommand>& command, const char* reason)
{
    ++m_unsent;
    Common::JTerminal('1') << " Command" << command->name().c_str() << "not sent:" << reason << "("
                           << command->msSinceQueued() << "ms in the queue)";
    emit command->answerIsReady(command, {}, DeviceCommand::TIMEOUT);
}

void ByteCommandQueue::sweepWaiting()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::pair<std::shared_ptr<ByteCommand>, const char*>> unsent;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (const char* reason = whyUnsendable(**it)) {
            unsent.emplace_back(std::move(*it), reason);
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    }
    if (m_waiting.empty())
        m_sweepTimer.stop();
    // Out of the queue before anyone hears of it: their handlers may enqueue.
    for (const auto& [command, reason] : unsent)
        finishUnsent(command, reason);
}

std::size_t ByteCommandQueue::waitingCount()
{
    std::lock_guard lock(m_mutex);
    return m_waiting.size();
}

std::shared_ptr<ByteCommand> ByteCommandQueue::currentCommand()
{
    std::lock_guard lock(m_mutex);
    return m_current;
}

void ByteCommandQueue::executeNextCommand()
{
    // A command finished at once (not connected, endpoint busy) emits from
    // inside this loop; whatever its handlers enqueue is picked up here, in
    // order, instead of in a nested call.
    if (m_starting)
        return;
    m_starting = true;
    while (!m_current && !m_waiting.empty()) {
        std::shared_ptr<ByteCommand> next = m_waiting.front();
        m_waiting.pop_front();
        if (const char* reason = whyUnsendable(*next)) {
            finishUnsent(next, reason);
            continue;
        }
        m_current = std::move(next);
        if (m_deviceConnected.load()) {
            if (const std::shared_ptr<CommandRequester>& requester = m_current->requester())
                requester->markStarted();
            std::vector<uint8_t> bytes = m_current->bytes();
            sendCommand(std::move(bytes), m_current->timeout());
        } else {
            handleCommandAnswer({}, DeviceCommand::DEVICE_DISCONNECTED);
        }
    }
    m_starting = false;
}

bool ByteCommandQueue::sendCommand(std::vector<uint8_t>&& bytes, int timeout)
{
    if (timeout < 0) {
        Common::JTerminal('3') << " negative time-out of command"
                               << (m_current ? m_current->name().c_str() : "")
                               << "- waiting" << defaultTimeoutMs << "ms";
        timeout = defaultTimeoutMs;
    }

    if (timeout == 0) {
        Common::JTerminal('1') << " Can't send command - no time to wait for its answer";
        handleCommandAnswer({}, DeviceCommand::TIMEOUT);
        return false;
    }

    // The USB thread writes the bytes as soon as the endpoint is free; the
    // answer time-out covers that wait as well.
    m_writer->setPendingBytes(std::move(bytes));
    m_answerTimer.start(timeout);
    return true;
}

void ByteCommandQueue::finish(const std::shared_ptr<ByteCommand>& command,
                              const std::vector<uint8_t>& answer,
                              int status)
{
    if (!command)
        return;
    if (status != DeviceCommand::OK)
        emit signalCommandError(command->name(), command->bytes(), answer, status);
    emit command->answerIsReady(command, answer, status);
}

void ByteCommandQueue::handleCommandAnswer(std::vector<uint8_t> answer, int status)
{
    m_answerTimer.stop();
    std::shared_ptr<ByteCommand> command = std::move(m_current);
    m_current.reset();
    finish(command, answer, status);
    if (!m_waiting.empty())
        executeNextCommand();
}

namespace {

constexpr uint8_t kRefusalCode = 0xEE;

// The code of `bytes` when they are exactly one frame.
std::optional<uint8_t> frameCode(const std::vector<uint8_t>& bytes)
{
    Common::ByteReader header(bytes, 1);
    uint16_t length = 0;
    uint8_t code = 0;
    if (bytes.size() < RecorderFrame::overhead || bytes.front() != RecorderFrame::startByte
        || bytes.back() != RecorderFrame::endByte || !header.readU16(length) || !header.readU8(code))
        return std::nullopt;
    if (length + RecorderFrame::overhead != bytes.size())
        return std::nullopt;
    return code;
}

} // namespace

bool ByteCommandQueue::isAnswerTo(const std::vector<uint8_t>& request, const std::vector<uint8_t>& answer)
{
    const std::optional<uint8_t> requestCode = frameCode(request);
    if (!requestCode)
        return true;
    uint8_t code = 0;
    if (!Common::ByteReader(answer, RecorderFrame::codeOffset).readU8(code))
        return false;
    if (code == *requestCode)
        return true;
    // A refusal names the code it refuses; one without data cannot be told
    // apart and is taken.
    uint8_t refused = 0;
    if (code == kRefusalCode)
        return !RecorderFrame::fields(answer).readU8(refused) || refused == *requestCode;
    return false;
}

void ByteCommandQueue::dropAnswer(const std::vector<uint8_t>& answer, const ByteCommand* current)
{
    ++m_droppedAnswers;
    const std::string bytes = Common::ByteArrayProvider::packToText(answer);
    const std::string text = current ? " Dropped a frame that is not the answer of \"" + current->name() + "\": [" + bytes + "]"
                                     : " Dropped a frame while no command was waiting: [" + bytes + "]";
    Common::JTerminal('1') << text.c_str();
    if (m_errorLog != nullptr)
        m_errorLog->write(text);
}

void ByteCommandQueue::handleCommandAnswerThreadSafe(std::vector<uint8_t> answer, int32_t status)
{
    std::shared_ptr<ByteCommand> command;
    {
        std::lock_guard lock(m_mutex);
        // Only frames are matched; a status is the link's own outcome.
        const bool frame = status == DeviceCommand::OK;
        if (!m_current || (frame && !isAnswerTo(m_current->bytes(), answer))) {
            // A late or unsolicited frame: the command in flight, if any,
            // keeps its time-out running.
            dropAnswer(answer, m_current.get());
            return;
        }
        m_answerTimer.stop();
        command = std::move(m_current);
        m_current.reset();
    }
    if (!command)
        return;

    finish(command, answer, status);

    std::lock_guard lock(m_mutex);
    if (!m_waiting.empty())
        executeNextCommand();
}

void ByteCommandQueue::handleCommandTimeout()
{
    Common::JTerminal('0') << "****";
    std::lock_guard lock(m_mutex);
    // Bytes still waiting for the endpoint belong to a command that is over:
    // written later, they would draw an answer nobody waits for.
    if (m_writer != nullptr)
        m_writer->dropPendingBytes();
    handleCommandAnswer({}, DeviceCommand::TIMEOUT);
}

void ByteCommandQueue::handleDeviceDisconnect()
{
    std::lock_guard lock(m_mutex);
    m_answerTimer.stop();
    std::shared_ptr<ByteCommand> command = std::move(m_current);
    m_current.reset();
    // Cleared before the answer goes out, so that a command enqueued by its
    // handler finishes as disconnected instead of being written to a link
    // that is gone.
    m_deviceConnected.store(false);
    // The commands waiting behind it are lost with the link as well: their
    // clients get their answer now instead of after a re-plug, and nothing
    // queued for this recorder is ever written to the next one. What the
    // handlers enqueue meanwhile joins the end of this drain.
    const bool starting = m_starting;
    m_starting = true;
    if (command)
        emit command->answerIsReady(command, {}, DeviceCommand::DEVICE_DISCONNECTED);
    while (!m_waiting.empty()) {
        std::shared_ptr<ByteCommand> waiting = m_waiting.front();
        m_waiting.pop_front();
        emit waiting->answerIsReady(waiting, {}, DeviceCommand::DEVICE_DISCONNECTED);
    }
    m_starting = starting;
}

} // namespace Tavrix::Usb
