#include "devicewebapi/bytechainjsoncommand.h"

#include "devicecomplexcommands/operationexchange.h"

namespace Tavrix::DeviceWebApi {

namespace Exchange = DeviceComplexCommands::Exchange;

ByteChainJsonCommand::ByteChainJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                           Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
    if (manager) {
        const Usb::DeviceInfo& info = manager->connectedDeviceInfo();
        m_device = info;
        m_softwareVersion = info.softwareVersion;
        m_hardwareVersion = info.hardwareVersion;
        m_versionExtension = info.versionExtension;
    }
}

ByteChainJsonCommand::JsonCommandStatusPtr ByteChainJsonCommand::execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info)
{
    if (info)
        m_uid = info->m_uid;
    m_steps = steps();
    if (m_steps.empty())
        return badData();
    return JsonCommandStatusCreator::create(send(0));
}

std::shared_ptr<Usb::DeviceCommandStatus> ByteChainJsonCommand::send(size_t index)
{
    const Step& step = m_steps[index];
    auto handler = [this, index](const Bytes& answer, int32_t status) { handleAnswer(index, answer, status); };
    if (step.frame.empty())
        return Usb::sendDescribedRequest(this, m_deviceManager, step.name, {}, handler);
    return Usb::sendRequest(this, m_deviceManager ? m_deviceManager->queue() : nullptr, step.name, step.frame,
                                    handler);
}

void ByteChainJsonCommand::handleAnswer(size_t index, const Bytes& answer, int32_t status)
{
    if (status != Usb::DeviceCommand::OK)
        return fail(static_cast<Usb::DeviceCommand::EStatus>(status), answer);
    bool last = index + 1 >= m_steps.size();
    const Usb::DeviceCommand::EStatus decoded = m_steps[index].decode(answer, last);
    if (decoded != Usb::DeviceCommand::OK)
        return fail(decoded, answer);
    if (last) {
        emit answerIsReady(this, QJsonDocument(isNoDevice() ? QJsonObject() : createAnswer()),
                           JsonCommandStatusCreator::create(Usb::DeviceCommand::OK));
        return;
    }
    const auto sent = send(index + 1);
    if (!isOk(sent))
        fail(sent->status, answer);
}

void ByteChainJsonCommand::fail(Usb::DeviceCommand::EStatus code, const Bytes& answer)
{
    emit answerIsReady(this, QJsonDocument(), JsonCommandStatusCreator::create(code, answer));
}

} // namespace Tavrix::DeviceWebApi
