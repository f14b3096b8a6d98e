#pragma once

#include "devicecomplexcommands/operationexchange.h"

#include <string>
#include <vector>

namespace Tavrix::DeviceComplexCommands {

// An operation of one fixed request frame, sent under the operation's own
// name; a subclass only judges the answer and emits Op's answerIsReady.
template<typename Op>
class SingleRequestCommand : public Op
{
public:
    SingleRequestCommand(const std::string& name, uint32_t uid, Usb::ByteCommandQueue* queue, std::vector<uint8_t> request)
        : Op(name, uid)
        , m_queue(queue)
        , m_request(std::move(request))
    {
    }

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override
    {
        return Usb::sendRequest(this, m_queue, this->name(), m_request, &SingleRequestCommand::handleAnswer);
    }

protected:
    // Called once with the answer bytes and the byte command's status.
    virtual void answer(const std::vector<uint8_t>& answer, int32_t status) = 0;

private:
    void handleAnswer(std::shared_ptr<Usb::ByteCommand>, const std::vector<uint8_t>& bytes, int32_t status)
    {
        answer(bytes, status);
    }

    Usb::ByteCommandQueue* m_queue;
    std::vector<uint8_t> m_request;
};

} // namespace Tavrix::DeviceComplexCommands
