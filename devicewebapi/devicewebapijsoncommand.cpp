#include "devicewebapi/devicewebapijsoncommand.h"

#include "common/logtext.h"

#include "common/jsontext.h"
#include "common/stringcomparer.h"
#include "devicesinfo/deviceinfojsonparser.h"
#include "devicewebapi/devicewebapisimplecommand.h"
#include "devicewebapi/jsoncommandstatuscreator.h"
#include "devicewebapi/socketcommandrequester.h"
#include "net/webapi/exeget.h"
#include "net/webapi/jsoncommandanswer.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/recorderframe.h"
#include "net/webapi/jsonwebapicommandwrapper.h"
#include "usb/usbdevicemanager.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTcpSocket>
#include <cmath>
#include <limits>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;
using Usb::DeviceCommand::EStatus;

namespace {

const char* const customCommandName = "CustomByteCommand";
const char* const customSimpleCommandName = "Custom";

// "uid" is echoed to the client; anything but a number in range reads as 0.
uint32_t readUid(const QVariant& value)
{
    switch (static_cast<QMetaType::Type>(value.type())) {
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const double number = value.toDouble();
        if (!std::isfinite(number) || number < 0 || number > std::numeric_limits<uint32_t>::max())
            return 0;
        return static_cast<uint32_t>(number);
    }
    default:
        return 0;
    }
}

// The payload of an answer frame: after start, length and code, before
// checksum and end marker.
QJsonArray payloadTexts(const std::vector<uint8_t>& frame)
{
    QJsonArray texts;
    if (frame.size() <= Usb::RecorderFrame::overhead)
        return texts;
    Common::ByteReader payload = Usb::RecorderFrame::fields(frame);
    uint8_t byte = 0;
    while (payload.readU8(byte))
        texts.append(QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0')));
    return texts;
}

} // namespace

DeviceWebApiJsonCommand::DeviceWebApiJsonCommand(Usb::UsbDeviceManager* manager,
                                                 JsonCommandFactory* factory,
                                                 QObject* parent)
    : exePost(parent)
    , m_deviceManager(manager)
    , m_factory(factory)
{
    registerJsonCommandMetaTypes();
}

void DeviceWebApiJsonCommand::exe(ParsingURI&, QByteArray& body, QTcpSocket* socket)
{
    // Qt's parser leaks the earlier value of a repeated member: refused
    // unparsed, or a client could grow the service's memory with each request.
    if (Common::JsonText::hasRepeatedMember(body)) {
        answerBadRequest(socket);
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject()) {
        answerBadRequest(socket);
        return;
    }
    const QVariantMap request = document.object().toVariantMap();
    const QString name = request.value("cmd").toString();
    const uint32_t uid = readUid(request.value("uid"));

    // The patient in force is the service's own: a page reloaded while the
    // recorder is away still shows whose examination it is.
    if (!isDeviceReady() && name != QLatin1String("GetExaminationInfo")) {
        answerFailureBeforeStart(name, uid, Usb::DeviceCommand::DEVICE_DISCONNECTED, socket);
        return;
    }
    const std::size_t waiting = m_deviceManager->queue()->waitingCount();
    if (waiting >= static_cast<std::size_t>(m_maxWaitingCommands)) {
        answerFailureBeforeStart(name, uid, Usb::DeviceCommand::BUSY, socket,
                                 QStringLiteral("%1 commands are waiting for the recorder; try again later")
                                     .arg(waiting));
        return;
    }

    const std::string stdName = name.toStdString();
    const bool custom = Common::StringComparer::isEqualsInsensitive(stdName, customCommandName);
    if (custom || isSimpleCommandOfDevice(stdName)) {
        const std::shared_ptr<Usb::LaunchedSimpleCommandInfo> launched = parseSimpleCommandInfo(request);
        if (!launched) {
            answerBadRequest(socket);
            return;
        }
        if (custom) {
            if (!isOneWellFormedFrame(launched->data)) {
                answerFailureBeforeStart(name, uid, Usb::DeviceCommand::BAD_DATA, socket,
                                         QStringLiteral("data: must be exactly one frame: 0x7E, a length equal to "
                                                        "the number of data bytes (at most %1), code, data, two "
                                                        "check bytes, 0xBD")
                                             .arg(maxCustomDataLength));
                return;
            }
            launched->name = customSimpleCommandName;
        }
        if (startSimpleCommand(launched, name, uid, socket) != EStarted::NotSimple)
            return;
    }
    startJsonCommand(name, uid, request.value("data"), socket);
}

std::shared_ptr<Usb::LaunchedSimpleCommandInfo> DeviceWebApiJsonCommand::parseSimpleCommandInfo(
    QMap<QString, QVariant> request)
{
    auto launched = std::make_shared<Usb::LaunchedSimpleCommandInfo>();
    launched->name = request.value("cmd").toString().toStdString();

    const QVariant data = request.value("data");
    QStringList texts;
    if (data.isNull() || !data.isValid()) {
        return launched;
    } else if (data.type() == QVariant::String) {
        if (data.toString().isEmpty())
            return launched;
        texts.append(data.toString());
    } else if (data.type() == QVariant::List || data.type() == QVariant::StringList) {
        // Only texts count: a number or an object in the list is not a byte text.
        for (const QVariant& element : data.toList()) {
            if (element.type() != QVariant::String)
                return nullptr;
            texts.append(element.toString());
        }
    } else {
        return nullptr;
    }

    bool ok = false;
    launched->data = DevicesInfo::DeviceInfoJsonParser::parseByteList(texts, ok);
    if (!ok)
        return nullptr;
    return launched;
}

bool DeviceWebApiJsonCommand::isOneWellFormedFrame(const std::vector<uint8_t>& bytes)
{
    using Usb::RecorderFrame;
    uint16_t declared = 0;
    if (bytes.size() < RecorderFrame::overhead || bytes.front() != RecorderFrame::startByte
        || bytes.back() != RecorderFrame::endByte || !Common::ByteReader(bytes, 1).readU16(declared))
        return false;
    return declared <= maxCustomDataLength && bytes.size() == declared + RecorderFrame::overhead;
}

DeviceWebApiJsonCommand::EStarted DeviceWebApiJsonCommand::startSimpleCommand(
    const std::shared_ptr<Usb::LaunchedSimpleCommandInfo>& launched, const QString& name, uint32_t uid,
    QTcpSocket* socket)
{
    std::vector<uint8_t> bytes;
    const EStatus encoded = m_deviceManager->commandSet()->createCommandBytes(launched, bytes);
    if (encoded == Usb::DeviceCommand::NOT_EXIST)
        return EStarted::NotSimple;
    if (encoded != Usb::DeviceCommand::OK) {
        answerFailureBeforeStart(name, uid, encoded, socket);
        return EStarted::Answered;
    }
    // The client's own uid travels with the byte command and comes back in
    // the answer.
    auto command = std::make_shared<DeviceWebApiSimpleCommand>(launched->name, uid, std::move(bytes),
                                                               simpleCommandTimeoutMs, socket);
    command->setRequester(std::make_shared<SocketCommandRequester>(socket));
    connect(command.get(), &Usb::ByteCommand::answerIsReady, this,
            &DeviceWebApiJsonCommand::handleSimpleCommandAnswerIsReady);
    m_deviceManager->enqueue(command);
    return EStarted::Started;
}

void DeviceWebApiJsonCommand::startJsonCommand(const QString& name, uint32_t uid, const QVariant& data,
                                               QTcpSocket* socket)
{
    const std::shared_ptr<JsonCommandFactoryItem> item = m_factory ? m_factory->find(name.toStdString()) : nullptr;
    if (!item) {
        answerFailureBeforeStart(name, uid, Usb::DeviceCommand::NOT_EXIST, socket);
        return;
    }
    auto info = std::make_shared<VariantJsonCommandInfo>(name.toStdString(), uid, data);
    // What the command enqueues while it starts is sent for this client.
    Usb::ByteCommandQueue::RequesterScope scope(*m_deviceManager->queue(),
                                                std::make_shared<SocketCommandRequester>(socket));
    std::shared_ptr<JsonCommandStatus> failure;
    if (!JsonWebApiCommandWrapper::start(*item, info, socket, this,
                                         &DeviceWebApiJsonCommand::handleComplexCommandAnswerIsReady, &failure)) {
        // Refused before anything was sent: BAD_DATA, with the reason when the
        // command gave one.
        const auto* error = dynamic_cast<const ErrorJsonCommandStatus*>(failure.get());
        answerFailureBeforeStart(name, uid, Usb::DeviceCommand::BAD_DATA, socket,
                                 error ? QString::fromStdString(error->errorText()) : QString());
    }
}

void DeviceWebApiJsonCommand::handleComplexCommandAnswerIsReady(JsonWebApiCommandWrapper* wrapper,
                                                                QJsonDocument answer,
                                                                std::shared_ptr<JsonCommandStatus> status)
{
    JsonCommandAnswer::write(*m_makeResponse, wrapper, answer, status);
}

void DeviceWebApiJsonCommand::handleSimpleCommandAnswerIsReady(std::shared_ptr<Usb::ByteCommand> command,
                                                               std::vector<uint8_t> answer,
                                                               int status)
{
    const auto* simple = dynamic_cast<const DeviceWebApiSimpleCommand*>(command.get());
    if (!simple)
        return;
    QJsonObject object;
    object.insert("uid", static_cast<qint64>(simple->uid()));
    if (status == Usb::DeviceCommand::OK) {
        object.insert("data", payloadTexts(answer));
        object.insert("status", "ok");
    } else {
        object.insert("status", "error");
        object.insert("errorcode",
                      QString::fromStdString(JsonCommandStatusCreator::statusName(static_cast<EStatus>(status))));
    }
    writeJson(object, simple->socket());
}

bool DeviceWebApiJsonCommand::isDeviceReady() const
{
    if (!m_deviceManager)
        return false;
    const Usb::DeviceInfo& device = m_deviceManager->connectedDeviceInfo();
    return !device.isDefault() && !device.simpleCommands.empty();
}

bool DeviceWebApiJsonCommand::isSimpleCommandOfDevice(const std::string& name) const
{
    for (const auto& command : m_deviceManager->connectedDeviceInfo().simpleCommands) {
        if (Common::StringComparer::isEqualsInsensitive(command.name, name))
            return true;
    }
    return false;
}

void DeviceWebApiJsonCommand::answerBadRequest(QTcpSocket* socket)
{
    m_makeResponse->retError(QStringLiteral("400 Bad Request"));
    writeAndClose(socket, *m_makeResponse);
}

void DeviceWebApiJsonCommand::answerFailureBeforeStart(const QString& name, uint32_t uid, EStatus status,
                                                       QTcpSocket* socket, const QString& errorText)
{
    const std::string statusName = JsonCommandStatusCreator::statusName(status);
    if ((status == Usb::DeviceCommand::DEVICE_DISCONNECTED || status == Usb::DeviceCommand::NOT_EXIST)
        && m_deviceManager) {
        emit m_deviceManager->signalError(Usb::UsbDeviceManager::errorType,
                                          // Told to every event client: a name as long as a
                                          // whole request would be repeated to each.
                                          "Command \"" + Common::LogText::capped(name).toStdString()
                                              + "\" was not started due to an error: " + statusName);
    }
    QJsonObject answer = JsonCommandAnswer::failureBeforeStart(name, uid, statusName);
    if (!errorText.isEmpty())
        answer.insert("errortext", errorText);
    writeJson(answer, socket);
}

void DeviceWebApiJsonCommand::writeJson(const QJsonObject& object, QTcpSocket* socket)
{
    m_makeResponse->ret200(QStringLiteral("json"), JsonCommandAnswer::toBytes(object));
    writeAndClose(socket, *m_makeResponse);
}

} // namespace Tavrix::DeviceWebApi
