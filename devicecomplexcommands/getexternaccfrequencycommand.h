#pragma once

#include "usb/complexcommand.h"

#include <cstdint>

namespace Tavrix::DeviceComplexCommands {

// The cable adapter's accelerometer runs at a fixed rate; nothing is asked of
// the device.
class GetExternAccFrequencyCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    static constexpr uint16_t fixedFrequency = 26;

    explicit GetExternAccFrequencyCommand(uint32_t uid);

    // Answers inside execute().
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

signals:
    void answerIsReady(Usb::ComplexCommand* command, uint16_t frequency, std::shared_ptr<Usb::DeviceCommandStatus> status);

private:
    uint16_t m_frequency = fixedFrequency;
};

} // namespace Tavrix::DeviceComplexCommands
