#include "devicewebapi/devicecomplexjsoncommand.h"

#include "common/jterminal.h"
#include "net/webapi/ijsoncommandinfo.h"
#include "usb/usbdevicecommandset.h"

#include <iostream>

namespace Tavrix::DeviceWebApi {

using Net::WebApi::IJsonCommandInfo;
using Net::WebApi::JsonCommandDescription;
using Net::WebApi::VariantJsonCommandInfo;

DeviceComplexJsonCommand::DeviceComplexJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                   QObject* parent)
    : DeviceComplexJsonCommand(std::move(description), nullptr, parent)
{
}

DeviceComplexJsonCommand::DeviceComplexJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                   Usb::UsbDeviceManager* manager,
                                                   QObject* parent)
    : Net::WebApi::JsonCommand(std::move(description), parent)
    , m_deviceManager(manager)
{
    Net::WebApi::registerJsonCommandMetaTypes();
}

// Operations still running are released with the map; their connections
// to this object die with it, so a late answer reaches nobody.
DeviceComplexJsonCommand::~DeviceComplexJsonCommand() = default;

void DeviceComplexJsonCommand::reportAnswer(const QJsonObject& answer, const DeviceStatusPtr& status)
{
    // Operations that only report a status answer "data": null, as the
    // single-request ones do, rather than an empty object.
    reportAnswer(answer.isEmpty() ? QJsonDocument() : QJsonDocument(answer), status);
}

void DeviceComplexJsonCommand::reportAnswer(const QJsonDocument& answer, const DeviceStatusPtr& status)
{
    emit answerIsReady(this, isOk(status) ? answer : QJsonDocument(), JsonCommandStatusCreator::create(status));
}

void DeviceComplexJsonCommand::reportError(Usb::DeviceCommand::EStatus code)
{
    emit answerIsReady(this, QJsonDocument(), JsonCommandStatusCreator::create(code));
}

DeviceComplexJsonCommand::JsonCommandStatusPtr DeviceComplexJsonCommand::badData()
{
    return JsonCommandStatusCreator::create(Usb::DeviceCommand::BAD_DATA);
}

DeviceComplexJsonCommand::JsonCommandStatusPtr DeviceComplexJsonCommand::badData(const std::string& reason)
{
    auto status = std::make_shared<Net::WebApi::ErrorJsonCommandStatus>(
        JsonCommandStatusCreator::statusName(Usb::DeviceCommand::BAD_DATA));
    status->setErrorText(reason);
    return status;
}

DeviceComplexJsonCommand::JsonCommandStatusPtr DeviceComplexJsonCommand::uninterpretable()
{
    std::cout << " json object interpretation error" << std::endl;
    return badData();
}

std::optional<QVariant> DeviceComplexJsonCommand::optionalRequestData(const std::shared_ptr<IJsonCommandInfo>& info)
{
    const auto request = std::dynamic_pointer_cast<VariantJsonCommandInfo>(info);
    if (!request)
        return std::nullopt;
    m_uid = request->m_uid;
    return request->m_data;
}

std::optional<QVariant> DeviceComplexJsonCommand::requestData(const std::shared_ptr<IJsonCommandInfo>& info)
{
    std::optional<QVariant> data = optionalRequestData(info);
    // An absent "data" is an invalid variant, which counts as null too.
    if (!data || data->isNull()) {
        uninterpretable();
        return std::nullopt;
    }
    return data;
}

std::shared_ptr<Usb::ComplexCommand>
DeviceComplexJsonCommand::createOperation(const std::string& operationName,
                                          std::shared_ptr<Usb::IComplexCommandCreateData> data)
{
    if (!m_deviceManager || !m_deviceManager->commandSet())
        return nullptr;
    return m_deviceManager->commandSet()->createComplexCommand(operationName, std::move(data));
}

DeviceComplexJsonCommand::JsonCommandStatusPtr
DeviceComplexJsonCommand::answerMissingOperation(const std::string& operationName)
{
    // The device answers nothing for it, so the client hears "NOT_EXIST" as
    // the outcome of its request rather than a misleading "BAD_DATA".
    Common::JTerminal('1') << "operation not available for the connected device:" << operationName;
    if (m_deviceManager)
        m_deviceManager->sendImplementationNotFoundError(operationName);
    reportError(Usb::DeviceCommand::NOT_EXIST);
    return JsonCommandStatusCreator::create(Usb::DeviceCommand::OK);
}

std::string DeviceComplexJsonCommand::operationNameOf(const Net::WebApi::IJsonCommandInfo& info) const
{
    if (!info.m_name.empty())
        return info.m_name;
    return m_description ? m_description->name() : std::string();
}

uint32_t DeviceComplexJsonCommand::nextOperationUid()
{
    return m_deviceManager ? m_deviceManager->generateUid() : 0;
}

} // namespace Tavrix::DeviceWebApi
