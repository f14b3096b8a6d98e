#pragma once

#include "devicecomplexcommands/examinationinfo.h"
#include "devicewebapi/devicecomplexjsoncommand.h"

#include <QJsonObject>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Tavrix::Usb {
class AdcChannelsManager;
}

namespace Tavrix::DeviceWebApi {

// "GetExaminationInfo": the examination in force, as the service keeps it
// (the last one the recorder accepted), so every client shows the same
// patient whatever its own form holds. {"Known", "PatientId", "Surname",
// "Name", "Patronymic", "BirthdayDate", "Sex", "LeadType", "LeadSet",
// "Leads"}; answers at once, without the recorder.
class GetExaminationInfoJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    GetExaminationInfoJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                  std::weak_ptr<Usb::AdcChannelsManager> channels);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

    // The answer for an examination (none: "Known" false) and the lead names
    // of the recorder's ECG channels.
    static QJsonObject answerFor(const std::optional<DeviceComplexCommands::ExaminationInfo>& examination,
                                 const std::vector<std::string>& leads);

private:
    // The names the lead set gives the recorder's ECG channels, in order;
    // empty when the channels or their names are not known.
    std::vector<std::string> leadNames(const std::optional<DeviceComplexCommands::ExaminationInfo>& examination) const;

    std::weak_ptr<Usb::AdcChannelsManager> m_channels;
};

} // namespace Tavrix::DeviceWebApi
