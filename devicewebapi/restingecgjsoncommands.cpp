#include "devicewebapi/restingecgjsoncommands.h"

#include "devicecomplexcommands/getfrequencycommand.h"
#include "devicecomplexcommands/readnumbercommand.h"
#include "net/webapi/ijsoncommandinfo.h"
#include "net/webapi/jsoncommandunit.h"
#include "usb/devicebaseinfoaggregator.h"

#include <QJsonObject>
#include <QVariantMap>
#include <cmath>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;
using Archive::RestingEcgArchive;

namespace {

std::shared_ptr<NamelessJsonCommandObjectUnit> outcomeUnits()
{
    return std::make_shared<NamelessJsonCommandObjectUnit>(
        JsonCommandUnits{unit("FileName", EJsonUnitType::String), unit("Url", EJsonUnitType::String),
                         unit("Sent", EJsonUnitType::Bool), unit("PacsStatus", EJsonUnitType::String)});
}

std::shared_ptr<ErrorJsonCommandStatus> errorStatus(const QString& code, const QString& text)
{
    auto status = std::make_shared<ErrorJsonCommandStatus>(code.toStdString());
    status->setErrorText(text.toStdString());
    return status;
}

} // namespace

TakeRestingEcgJsonCommand::TakeRestingEcgJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                     Usb::UsbDeviceManager* manager, RestingEcgArchive* archive,
                                                     std::weak_ptr<Usb::AdcChannelsManager> channels)
    : DeviceComplexJsonCommand(std::move(description), manager)
    , m_archive(archive)
    , m_channels(std::move(channels))
{
}

std::shared_ptr<JsonCommandDescription> TakeRestingEcgJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>(
        "TakeRestingEcg",
        std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{unit("Seconds", EJsonUnitType::Int)}),
        outcomeUnits());
}

std::optional<int> TakeRestingEcgJsonCommand::secondsOf(const QVariant& data)
{
    if (!data.isValid() || data.isNull())
        return RestingEcgArchive::defaultSeconds;
    if (data.type() != QVariant::Map)
        return std::nullopt;
    const QVariant seconds = data.toMap().value(QStringLiteral("Seconds"));
    if (!seconds.isValid() || seconds.isNull())
        return RestingEcgArchive::defaultSeconds;
    bool ok = false;
    const double value = seconds.toDouble(&ok);
    if (!ok || seconds.type() == QVariant::String || seconds.type() == QVariant::Bool || std::floor(value) != value
        || value < RestingEcgArchive::minSeconds || value > RestingEcgArchive::maxSeconds)
        return std::nullopt;
    return static_cast<int>(value);
}

TakeRestingEcgJsonCommand::JsonCommandStatusPtr
TakeRestingEcgJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> data = optionalRequestData(info);
    if (!data)
        return badData();
    const std::optional<int> seconds = secondsOf(*data);
    if (!seconds)
        return badData();
    m_seconds = *seconds;
    if (!m_archive) {
        answerError("NO_RECORDER", "resting ECGs are not available");
        return std::make_shared<OkJsonCommandStatus>();
    }
    if (m_archive->isTaking()) {
        answerError("BUSY", "a resting ECG is being taken");
        return std::make_shared<OkJsonCommandStatus>();
    }
    return startNamedOperation<DeviceComplexCommands::GetFrequencyCommand>(
        "GetFrequency", &TakeRestingEcgJsonCommand::handleFrequency);
}

void TakeRestingEcgJsonCommand::handleFrequency(Usb::ComplexCommand*, uint16_t frequency, DeviceStatusPtr status)
{
    if (!isOk(status)) {
        reportAnswer(QJsonObject(), status);
        return;
    }
    m_frequency = frequency;
    const JsonCommandStatusPtr started = startNamedOperation<DeviceComplexCommands::ReadNumberCommand>(
        "ReadNumber", &TakeRestingEcgJsonCommand::handleNumber);
    if (started && started->code() != 0)
        answerError("NOT_EXIST", "the recorder's serial number cannot be read");
}

void TakeRestingEcgJsonCommand::handleNumber(Usb::ComplexCommand*, uint32_t number, DeviceStatusPtr status)
{
    const std::shared_ptr<Usb::AdcChannelsManager> channels = m_channels.lock();
    if (!m_archive || !channels) {
        answerError("NO_RECORDER", "resting ECGs are not available");
        return;
    }
    RestingEcgArchive::TakeRequest request;
    request.seconds = m_seconds;
    request.recorderRate = m_frequency;
    request.layout = channels->channelLayout();
    // The serial number names the equipment; an ECG is still worth taking without it.
    if (isOk(status))
        request.serialNumber = std::to_string(number);
    if (m_deviceManager) {
        const Usb::DeviceInfo& device = m_deviceManager->connectedDeviceInfo();
        request.model = device.name;
        using Usb::DeviceBaseInfoAggregator;
        std::string firmware = "firmware " + DeviceBaseInfoAggregator::toVersionText(device.softwareVersion).toStdString();
        if (!device.versionExtension.empty())
            firmware += " " + device.versionExtension;
        request.versions = {firmware,
                            "hardware " + DeviceBaseInfoAggregator::toVersionText(device.hardwareVersion).toStdString()};
    }
    connect(m_archive.data(), &RestingEcgArchive::outcomeIsReady, this, &TakeRestingEcgJsonCommand::handleOutcome);
    RestingEcgArchive::Outcome refusal;
    m_takeId = m_archive->take(request, &refusal);
    if (m_takeId == 0) {
        disconnect(m_archive.data(), nullptr, this, nullptr);
        answerError(refusal.errorCode, refusal.errorText);
    }
}

void TakeRestingEcgJsonCommand::handleOutcome(const RestingEcgArchive::Outcome& outcome)
{
    if (outcome.id != m_takeId)
        return;
    if (m_archive)
        disconnect(m_archive.data(), nullptr, this, nullptr);
    if (!outcome.ok()) {
        answerError(outcome.errorCode, outcome.errorText);
        return;
    }
    emit answerIsReady(this, QJsonDocument(outcome.answer()), std::make_shared<OkJsonCommandStatus>());
}

void TakeRestingEcgJsonCommand::answerError(const QString& code, const QString& text)
{
    emit answerIsReady(this, QJsonDocument(), errorStatus(code, text));
}

SendToPacsJsonCommand::SendToPacsJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                             RestingEcgArchive* archive)
    : DeviceComplexJsonCommand(std::move(description))
    , m_archive(archive)
{
}

std::shared_ptr<JsonCommandDescription> SendToPacsJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>(
        "SendToPacs",
        std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{unit("FileName", EJsonUnitType::String)}),
        outcomeUnits());
}

SendToPacsJsonCommand::JsonCommandStatusPtr SendToPacsJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> data = requestData(info);
    if (!data || data->type() != QVariant::Map)
        return badData();
    const QVariant name = data->toMap().value(QStringLiteral("FileName"));
    if (name.type() != QVariant::String)
        return badData();
    if (!m_archive) {
        emit answerIsReady(this, QJsonDocument(), errorStatus("NO_RECORDER", "resting ECGs are not available"));
        return std::make_shared<OkJsonCommandStatus>();
    }
    connect(m_archive.data(), &RestingEcgArchive::outcomeIsReady, this, &SendToPacsJsonCommand::handleOutcome);
    RestingEcgArchive::Outcome refusal;
    m_sendId = m_archive->sendAgain(name.toString(), &refusal);
    if (m_sendId == 0) {
        disconnect(m_archive.data(), nullptr, this, nullptr);
        emit answerIsReady(this, QJsonDocument(), errorStatus(refusal.errorCode, refusal.errorText));
    }
    return std::make_shared<OkJsonCommandStatus>();
}

void SendToPacsJsonCommand::handleOutcome(const RestingEcgArchive::Outcome& outcome)
{
    if (outcome.id != m_sendId)
        return;
    if (m_archive)
        disconnect(m_archive.data(), nullptr, this, nullptr);
    emit answerIsReady(this, QJsonDocument(outcome.answer()), std::make_shared<OkJsonCommandStatus>());
}

} // namespace Tavrix::DeviceWebApi
