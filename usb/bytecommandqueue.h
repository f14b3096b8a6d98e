#pragma once

#include "usb/bytecommand.h"
#include "usb/usbcmdlistener.h"
#include "usb/usbcmdwriter.h"

namespace Tavrix::Common {
class SimpleLogger;
}

#include <mutex>
#include <QTimer>
#include <atomic>
#include <deque>
#include <memory>

namespace Tavrix::Usb {

// Sends byte commands to the recorder strictly one at a time and hands each
// its answer, or a time-out. Lives on the main thread.
//
// The recorder answers a request with a frame of the request's code, or
// refuses it with a 0xEE frame naming that code. A frame that is neither (a
// late answer of a command that already timed out, or one nobody asked for)
// is dropped and logged, and the command in flight keeps waiting for its own
// answer within its time-out. Requests whose bytes form no frame (raw bytes
// from a client) take the first frame that comes.
//
// A command waits in the queue at most maxWaitMs: one still waiting then is
// answered TIMEOUT without being sent, so that a flood of requests to a
// silent recorder cannot keep a later one waiting for minutes. A command
// whose requester has gone before any of its commands was sent is taken
// back unsent the same way.
//
// Handlers of answerIsReady and signalCommandError may enqueue their next
// command from inside the handler on every path. The queue mutex is recursive
// for that, the queue's state is consistent before anything is emitted, and a
// nested start of the next command is left to the outer one, so chains of
// immediate failures do not grow the stack.
class ByteCommandQueue : public QObject
{
    Q_OBJECT

signals:
    void signalCommandError(std::string commandName,
                            std::vector<uint8_t> sendBytes,
                            std::vector<uint8_t> answer,
                            int32_t errorCode);

public:
    static constexpr unsigned int uidLimit = 100000;
    // Used in place of a negative time-out, which would otherwise leave the
    // command current until some unrelated frame arrived.
    static constexpr int defaultTimeoutMs = 1000;
    static constexpr int defaultMaxWaitMs = 10000;
    // How often waiting commands are checked for their deadline and requester.
    static constexpr int sweepIntervalMs = 100;

    ByteCommandQueue(UsbCmdWriter<4>* writer, UsbCmdListener<133>* listener, QObject* parent = nullptr);

    // A command without a requester takes the one of the innermost
    // RequesterScope alive.
    void enqueue(std::shared_ptr<ByteCommand> command);

    // While it lives, the commands enqueued (directly or by operations
    // started meanwhile) are sent for `requester`.
    class RequesterScope
    {
    public:
        RequesterScope(ByteCommandQueue& queue, std::shared_ptr<CommandRequester> requester);
        ~RequesterScope();
        RequesterScope(const RequesterScope&) = delete;
        RequesterScope& operator=(const RequesterScope&) = delete;

    private:
        ByteCommandQueue& m_queue;
        std::shared_ptr<CommandRequester> m_previous;
    };

    void setMaxWaitMs(int milliseconds) { m_maxWaitMs = milliseconds; }
    int maxWaitMs() const { return m_maxWaitMs; }
    // Commands answered without being sent: deadline passed, requester gone.
    uint64_t unsentCount() const { return m_unsent; }
    // 1, 2, …, 100000, 0, 1, … ; safe from any thread.
    unsigned int generateUid();

    // Set when a recorder was opened, before its first command is enqueued.
    void setDeviceConnected(bool connected) { m_deviceConnected.store(connected); }
    bool isDeviceConnected() const { return m_deviceConnected.load(); }

    // Link lost: the flag is cleared, and the command in flight and then every
    // waiting command answer DEVICE_DISCONNECTED, in order (without
    // signalCommandError).
    void handleDeviceDisconnect();

    // Whether `answer`, a complete frame from the answer endpoint, belongs to
    // the request `request`.
    static bool isAnswerTo(const std::vector<uint8_t>& request, const std::vector<uint8_t>& answer);

    // Where dropped frames are recorded besides the log; may stay unset.
    void setErrorLog(Common::SimpleLogger* errorLog) { m_errorLog = errorLog; }
    uint64_t droppedAnswerCount() const { return m_droppedAnswers; }

    // Recursive: the owner may hold it around its own queue work.
    std::recursive_mutex& mutex() { return m_mutex; }
    std::size_t waitingCount();
    std::shared_ptr<ByteCommand> currentCommand();

public slots:
    void handleCommandAnswerThreadSafe(std::vector<uint8_t> answer, int32_t status);
    void handleCommandTimeout();

private:
    // The following expect the queue mutex to be held.
    void executeNextCommand();
    // False when the command was finished at once (busy endpoint, time-out 0).
    bool sendCommand(std::vector<uint8_t>&& bytes, int timeout);
    void handleCommandAnswer(std::vector<uint8_t> answer, int status);
    void finish(const std::shared_ptr<ByteCommand>& command, const std::vector<uint8_t>& answer, int status);
    void dropAnswer(const std::vector<uint8_t>& answer, const ByteCommand* current);
    // Why `command` must not be sent any more; null when it may be.
    const char* whyUnsendable(const ByteCommand& command) const;
    void finishUnsent(const std::shared_ptr<ByteCommand>& command, const char* reason);
    void sweepWaiting();

    UsbCmdWriter<4>* m_writer;
    UsbCmdListener<133>* m_listener;
    std::deque<std::shared_ptr<ByteCommand>> m_waiting;
    std::shared_ptr<ByteCommand> m_current;
    std::recursive_mutex m_mutex;
    QTimer m_answerTimer;
    std::atomic<bool> m_deviceConnected{false};
    bool m_starting = false;
    Common::SimpleLogger* m_errorLog = nullptr;
    uint64_t m_droppedAnswers = 0;
    unsigned int m_uid = 0;
    std::mutex m_uidMutex;
    int m_maxWaitMs = defaultMaxWaitMs;
    QTimer m_sweepTimer;
    std::shared_ptr<CommandRequester> m_scopeRequester;
    uint64_t m_unsent = 0;
};

} // namespace Tavrix::Usb
