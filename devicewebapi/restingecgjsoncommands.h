#pragma once

#include "archive/restingecgarchive.h"
#include "devicewebapi/devicecomplexjsoncommand.h"

#include <QPointer>

namespace Tavrix::DeviceWebApi {

// "TakeRestingEcg" (data: {"Seconds": 5–60}, 10 when missing): asks the
// recorder for its frame rate and serial number, takes that many seconds of
// the live ECG from then on, writes it as a DICOM ECG file and sends it to
// the PACS. Answers when the file is written and the send has ended:
// {"FileName", "Url", "Sent", "PacsStatus"} with "errortext" when not sent.
// Errors: "BUSY", "NO_SIGNALS", "DEVICE_DISCONNECTED", "BAD_DATA" (frames
// lost, channels changed), "TIMEOUT", "FILE_ERROR", each with an "errortext".
class TakeRestingEcgJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    TakeRestingEcgJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                              Usb::UsbDeviceManager* manager, Archive::RestingEcgArchive* archive,
                              std::weak_ptr<Usb::AdcChannelsManager> channels);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

    // The span of a request's data: null → the default; {"Seconds": n} with
    // a whole n from 5 to 60; nothing for anything else.
    static std::optional<int> secondsOf(const QVariant& data);

private:
    void handleFrequency(Usb::ComplexCommand* command, uint16_t frequency, DeviceStatusPtr status);
    void handleNumber(Usb::ComplexCommand* command, uint32_t number, DeviceStatusPtr status);
    void handleOutcome(const Archive::RestingEcgArchive::Outcome& outcome);
    void answerError(const QString& code, const QString& text);

    QPointer<Archive::RestingEcgArchive> m_archive;
    std::weak_ptr<Usb::AdcChannelsManager> m_channels;
    int m_seconds = Archive::RestingEcgArchive::defaultSeconds;
    int m_frequency = 0;
    quint64 m_takeId = 0;
};

// "SendToPacs" (data: {"FileName"}): sends a stored resting ECG file to the
// PACS again. Answers as "TakeRestingEcg" does once the send has ended;
// "BAD_DATA" for a name that is no resting ECG file.
class SendToPacsJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    SendToPacsJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                          Archive::RestingEcgArchive* archive);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleOutcome(const Archive::RestingEcgArchive::Outcome& outcome);

    QPointer<Archive::RestingEcgArchive> m_archive;
    quint64 m_sendId = 0;
};

} // namespace Tavrix::DeviceWebApi
