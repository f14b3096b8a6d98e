#pragma once

#include "devicecomplexcommands/operationexchange.h"

#include <QTimer>
#include <string>
#include <vector>

namespace Tavrix::DeviceComplexCommands {

// One fixed request frame of a chain.
struct FrameStep
{
    std::string name;
    std::vector<uint8_t> bytes;
    int timeoutMs = Exchange::answerTimeoutMs;
};

// A write made of fixed frames sent one after another, each on the previous
// answer; the first failure ends it with that status. After the last answer
// it waits `settleMs` (for a device that restarts) and answers success.
// Op is an operation class whose answerIsReady carries only the status.
template<typename Op>
class FrameChainCommand : public Op
{
public:
    FrameChainCommand(const std::string& name,
                      uint32_t uid,
                      Usb::ByteCommandQueue* queue,
                      std::vector<FrameStep> steps,
                      int settleMs = 0)
        : Op(name, uid)
        , m_queue(queue)
        , m_steps(std::move(steps))
        , m_settleMs(settleMs)
    {
    }

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override
    {
        if (!m_queue)
            return Exchange::failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
        if (m_steps.empty())
            return Exchange::failure(Usb::DeviceCommand::BAD_DATA);
        sendStep();
        return Exchange::ok();
    }

    const std::vector<FrameStep>& steps() const { return m_steps; }

protected:
    // Lets a subclass refuse a record before anything is sent.
    void setSteps(std::vector<FrameStep> steps) { m_steps = std::move(steps); }

private:
    void sendStep()
    {
        const FrameStep& step = m_steps[m_next];
        Usb::sendRequest(this, m_queue, step.name, step.bytes, &FrameChainCommand::handleAnswer, step.timeoutMs);
    }

    void handleAnswer(std::shared_ptr<Usb::ByteCommand>, const std::vector<uint8_t>& answer, int32_t status)
    {
        if (auto failed = Exchange::checkAnswer(answer, status)) {
            emit Op::answerIsReady(this, failed);
            return;
        }
        if (++m_next < m_steps.size()) {
            sendStep();
            return;
        }
        if (m_settleMs <= 0) {
            emit Op::answerIsReady(this, Exchange::ok());
            return;
        }
        // A coarse timer may fire up to 5 % early, while the cable is still away.
        QTimer::singleShot(m_settleMs, Qt::PreciseTimer, this, [this]() { emit Op::answerIsReady(this, Exchange::ok()); });
    }

    Usb::ByteCommandQueue* m_queue;
    std::vector<FrameStep> m_steps;
    std::size_t m_next = 0;
    int m_settleMs;
};

} // namespace Tavrix::DeviceComplexCommands
