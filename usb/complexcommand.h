#pragma once

#include "usb/devicecommandstatus.h"

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace Tavrix::Usb {

// One device operation, made for one request: executed once, answered once
// through the answerIsReady signal of its operation class, then released by
// whoever holds it.
class ComplexCommand : public QObject
{
    Q_OBJECT

public:
    ComplexCommand(const std::string& name, uint32_t uid);
    ~ComplexCommand() override;

    // Code 0: under way, exactly one answerIsReady follows. Any other code:
    // nothing was started and no signal follows.
    virtual std::shared_ptr<DeviceCommandStatus> execute() = 0;

    const std::string& name() const { return m_name; }
    uint32_t uid() const { return m_uid; }

protected:
    std::string m_name;
    uint32_t m_uid;
    // Sub-commands started by this command that have not answered yet.
    std::unordered_map<ComplexCommand*, std::shared_ptr<ComplexCommand>> m_executedCommands;
};

} // namespace Tavrix::Usb
