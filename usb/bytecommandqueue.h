#pragma once

#include "usb/bytecommand.h"
#include "usb/usbcmdlistener.h"
#include "usb/usbcmdwriter.h"

#include <mutex>
#include <QTimer>
#include <atomic>
#include <deque>
#include <memory>

namespace Tavrix::Usb {

// Sends byte commands to the recorder strictly one at a time: the first frame
// from the answer endpoint after a command was written is its answer, or it
// times out. Lives on the main thread.
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

    ByteCommandQueue(UsbCmdWriter<4>* writer, UsbCmdListener<133>* listener, QObject* parent = nullptr);

    void enqueue(std::shared_ptr<ByteCommand> command);
    // 1, 2, …, 100000, 0, 1, … ; safe from any thread.
    unsigned int generateUid();

    // Set when a recorder was opened, before its first command is enqueued.
    void setDeviceConnected(bool connected) { m_deviceConnected.store(connected); }
    bool isDeviceConnected() const { return m_deviceConnected.load(); }

    // Link lost: the flag is cleared, and the command in flight and then every
    // waiting command answer DEVICE_DISCONNECTED, in order (without
    // signalCommandError).
    void handleDeviceDisconnect();

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

    UsbCmdWriter<4>* m_writer;
    UsbCmdListener<133>* m_listener;
    std::deque<std::shared_ptr<ByteCommand>> m_waiting;
    std::shared_ptr<ByteCommand> m_current;
    std::recursive_mutex m_mutex;
    QTimer m_answerTimer;
    std::atomic<bool> m_deviceConnected{false};
    bool m_starting = false;
    unsigned int m_uid = 0;
    std::mutex m_uidMutex;
};

} // namespace Tavrix::Usb
