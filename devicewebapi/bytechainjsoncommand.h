#pragma once

#include "devicewebapi/devicecomplexjsoncommand.h"
#include "devicesinfo/devicecommoninfo.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Tavrix::DeviceWebApi {

// A web command that asks the recorder a fixed sequence of byte requests,
// each sent on the previous answer, and answers once at the end (or at the
// first failure). Keeps what it needs of the identified device from the
// moment it is created.
class ByteChainJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    using Bytes = std::vector<uint8_t>;

    struct Step
    {
        std::string name;
        // Sent as it is; empty: the described simple command `name`.
        Bytes frame;
        // Reads the answer into the command's fields. A failure code ends the
        // command with that status (carrying the answer); `last` ends the
        // chain after this step.
        std::function<Usb::DeviceCommand::EStatus(const Bytes& answer, bool& last)> decode;
    };

    ByteChainJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                         Usb::UsbDeviceManager* manager);

    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

protected:
    virtual std::vector<Step> steps() = 0;
    // The answer after the last step.
    virtual QJsonObject createAnswer() const = 0;

    // True while no recorder has been identified: the answer stays empty.
    bool isNoDevice() const { return m_device.type == 0 && m_softwareVersion == 0 && m_hardwareVersion == 0; }

    DevicesInfo::DeviceCommonInfo m_device;
    uint16_t m_softwareVersion = 0;
    uint16_t m_hardwareVersion = 0;
    std::string m_versionExtension;

private:
    std::shared_ptr<Usb::DeviceCommandStatus> send(size_t index);
    void handleAnswer(size_t index, const Bytes& answer, int32_t status);
    void fail(Usb::DeviceCommand::EStatus code, const Bytes& answer);

    std::vector<Step> m_steps;
};

} // namespace Tavrix::DeviceWebApi
