#pragma once

#include "devicecomplexcommands/examinationinfo.h"
#include "devicecomplexcommands/setexaminationinfocommand.h"
#include "devicewebapi/singlevaluejsoncommand.h"

#include <optional>

namespace Tavrix::DeviceWebApi {

// "SetExaminationInfo": patient, start time, lead set, file name and cable.
class SetExaminationInfoJsonCommand : public StatusOnlyJsonCommand<DeviceComplexCommands::SetExaminationInfoCommand>
{
public:
    using StatusOnlyJsonCommand::StatusOnlyJsonCommand;
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

    // Empty when a value cannot be written as it is: a text key that holds
    // no text, a name the recorder cannot keep (a letter Windows-1251 lacks,
    // more than 64 bytes), a date or time that is none or out of the
    // recorder's range, a "LeadType" without lead set, or a "CableInfo"
    // number that is no whole number in range; `refusal` then names the
    // field and the reason. Missing keys read as empty text or 0.
    static std::optional<DeviceComplexCommands::ExaminationInfo> parseRequest(const QVariantMap& data,
                                                                              std::string* refusal = nullptr);
    // The first character of `text` that Windows-1251 cannot hold; empty when
    // it holds them all.
    static QString firstUnstorable(const QString& text);

private:
    // Keeps the examination for the signal recordings once the recorder took it.
    void handleSetAnswer(Usb::ComplexCommand* command, DeviceStatusPtr status);

    DeviceComplexCommands::ExaminationInfo m_examination;
};

// "GetExamFileName": the "fname" entry of the examination block in the EEPROM;
// BAD_DATA for a damaged or empty block or one without a file name.
class GetExamFileNameJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT
public:
    GetExamFileNameJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                               Usb::UsbDeviceManager* manager);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

    // The file name of an examination block; empty optional when there is none.
    static std::optional<std::string> fileNameOf(const std::vector<uint8_t>& block);

private:
    void handleLength(Usb::ComplexCommand* command, std::vector<uint8_t> data, DeviceStatusPtr status);
    void handleBlock(Usb::ComplexCommand* command, std::vector<uint8_t> data, DeviceStatusPtr status);
};

} // namespace Tavrix::DeviceWebApi
