#pragma once

#include "usb/commandrequester.h"

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tavrix::Usb {

// One request to the recorder: a complete frame, its name for error reports
// and how long to wait for the answer. Held by shared pointer; answers once
// through answerIsReady.
class ByteCommand : public QObject
{
    Q_OBJECT

signals:
    void answerIsReady(std::shared_ptr<ByteCommand> command, std::vector<uint8_t> answer, int32_t status);

public:
    ByteCommand(const std::string& name,
                unsigned int uid,
                std::vector<uint8_t>&& bytes,
                int timeout,
                QObject* parent = nullptr);

    const std::string& name() const { return m_name; }
    unsigned int uid() const { return m_uid; }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }
    // Milliseconds to wait for the answer, and the number of 1 ms waits for
    // a free endpoint.
    int timeout() const { return m_timeout; }

    // Who the command is sent for; null for the service's own commands.
    const std::shared_ptr<CommandRequester>& requester() const { return m_requester; }
    void setRequester(std::shared_ptr<CommandRequester> requester) { m_requester = std::move(requester); }

    // Set by the queue when the command joins it.
    void markQueued() { m_queued.start(); }
    qint64 msSinceQueued() const { return m_queued.isValid() ? m_queued.elapsed() : 0; }

private:
    int m_timeout;
    std::string m_name;
    unsigned int m_uid;
    std::vector<uint8_t> m_bytes;
    std::shared_ptr<CommandRequester> m_requester;
    QElapsedTimer m_queued;
};

} // namespace Tavrix::Usb
