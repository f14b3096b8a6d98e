#pragma once

#include "devicewebapi/devicecomplexjsoncommand.h"
#include "net/webapi/jsoncommandunit.h"

#include <QJsonObject>
#include <QJsonValue>
#include <memory>
#include <string>

namespace Tavrix::DeviceWebApi {

// Front end of an operation without arguments whose single result becomes
// one member of the answer object. The member is named once, in the
// description made by describe().
template<typename Operation, typename Value>
class SingleValueJsonCommand : public DeviceComplexJsonCommand
{
public:
    using Convert = QJsonValue (*)(Value);

    SingleValueJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                           Usb::UsbDeviceManager* manager,
                           Convert convert)
        : DeviceComplexJsonCommand(description, manager)
        , m_key(answerKeyOf(description.get()))
        , m_convert(convert)
    {
    }

    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override
    {
        if (!info)
            return badData();
        return startOperation<Operation>(*info, &SingleValueJsonCommand::handleAnswer);
    }

    // A description without request data and with the one answer member.
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> describe(const std::string& name,
                                                                         const std::string& key,
                                                                         Net::WebApi::EJsonUnitType type)
    {
        using namespace Net::WebApi;
        return std::make_shared<JsonCommandDescription>(
            name, std::make_shared<NamelessEmptyJsonCommandUnit>(),
            std::make_shared<NamelessJsonCommandObjectUnit>(
                JsonCommandUnits{std::make_shared<JsonCommandUnit>(key, type)}));
    }

private:
    static QString answerKeyOf(const Net::WebApi::JsonCommandDescription* description)
    {
        if (!description)
            return {};
        const auto answer =
            std::dynamic_pointer_cast<Net::WebApi::NamelessJsonCommandObjectUnit>(description->answer());
        if (!answer || answer->members().empty())
            return {};
        return QString::fromStdString(answer->members().front()->name());
    }

    void handleAnswer(Usb::ComplexCommand*, Value value, DeviceStatusPtr status)
    {
        QJsonObject answer;
        if (isOk(status))
            answer.insert(m_key, m_convert(value));
        reportAnswer(answer, status);
    }

    QString m_key;
    Convert m_convert;
};

// Front end of an operation without arguments that answers with its status
// only.
template<typename Operation>
class StatusOnlyJsonCommand : public DeviceComplexJsonCommand
{
public:
    StatusOnlyJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                          Usb::UsbDeviceManager* manager)
        : DeviceComplexJsonCommand(std::move(description), manager)
    {
    }

    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override
    {
        if (!info)
            return badData();
        return startOperation<Operation>(*info, &StatusOnlyJsonCommand::handleAnswer);
    }

protected:
    void handleAnswer(Usb::ComplexCommand*, DeviceStatusPtr status) { reportAnswer(QJsonDocument(), status); }
};

} // namespace Tavrix::DeviceWebApi
