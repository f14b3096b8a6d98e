#pragma once

#include "net/webapi/exepost.h"
#include "net/webapi/jsoncommand.h"
#include "usb/devicecommand.h"
#include "usb/launchedsimplecommandinfo.h"

#include <QJsonDocument>
#include <QMap>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <vector>

class QTcpSocket;

namespace Tavrix::Usb {
class ByteCommand;
class UsbDeviceManager;
}
namespace Tavrix::Net::WebApi {
class JsonCommandFactory;
class JsonWebApiCommandWrapper;
}

namespace Tavrix::DeviceWebApi {

// The POST route "cmd": a JSON request {"cmd", "uid", "data"} runs raw bytes
// ("CustomByteCommand"), a simple command of the connected device's
// description, or a registered web command, and is answered with one JSON
// envelope on the same connection, which is then closed.
class DeviceWebApiJsonCommand : public Net::WebApi::exePost
{
    Q_OBJECT

public:
    static constexpr int simpleCommandTimeoutMs = 1000;
    // The most data bytes a raw frame may declare. The recorder's request
    // parser drops longer requests (docs/simulator.md), and no request of the
    // protocol comes near it, so a longer one could only time out.
    static constexpr std::size_t maxCustomDataLength = 4096;
    // Requests beyond this many commands waiting for the recorder are
    // answered "BUSY" at once instead of joining the queue.
    static constexpr int defaultMaxWaitingCommands = 32;

    DeviceWebApiJsonCommand(Usb::UsbDeviceManager* manager,
                            Net::WebApi::JsonCommandFactory* factory,
                            QObject* parent = nullptr);

    void exe(Net::WebApi::ParsingURI& uri, QByteArray& body, QTcpSocket* socket) override;

    void setMaxWaitingCommands(int count) { m_maxWaitingCommands = count; }

    // The name ("cmd") and argument bytes ("data": missing, null, an empty
    // text, one byte text or a list of byte texts such as "0x0a"); empty
    // when "data" is anything else.
    static std::shared_ptr<Usb::LaunchedSimpleCommandInfo> parseSimpleCommandInfo(QMap<QString, QVariant> request);

    // Raw bytes are sent only when they are exactly one request frame: 0x7E,
    // a length field equal to the data that follows, code, data, two checksum
    // bytes and 0xBD, with at most maxCustomDataLength data bytes. Anything
    // else could leave the recorder's parser waiting for bytes that never
    // come, and every later request would time out.
    static bool isOneWellFormedFrame(const std::vector<uint8_t>& bytes);

public slots:
    void handleComplexCommandAnswerIsReady(Net::WebApi::JsonWebApiCommandWrapper* wrapper,
                                           QJsonDocument answer,
                                           std::shared_ptr<Net::WebApi::JsonCommandStatus> status);
    void handleSimpleCommandAnswerIsReady(std::shared_ptr<Usb::ByteCommand> command,
                                          std::vector<uint8_t> answer,
                                          int status);

private:
    enum class EStarted { Answered, Started, NotSimple };

    // Sends a simple (or raw) command; NotSimple when the device's command
    // set does not know it, so the name may still be a web command.
    EStarted startSimpleCommand(const std::shared_ptr<Usb::LaunchedSimpleCommandInfo>& launched,
                                const QString& name, uint32_t uid, QTcpSocket* socket);
    void startJsonCommand(const QString& name, uint32_t uid, const QVariant& data, QTcpSocket* socket);
    bool isDeviceReady() const;
    bool isSimpleCommandOfDevice(const std::string& name) const;
    void answerBadRequest(QTcpSocket* socket);
    void answerFailureBeforeStart(const QString& name, uint32_t uid, Usb::DeviceCommand::EStatus status,
                                  QTcpSocket* socket, const QString& errorText = {});
    void writeJson(const QJsonObject& object, QTcpSocket* socket);

    Usb::UsbDeviceManager* m_deviceManager;
    Net::WebApi::JsonCommandFactory* m_factory;
    int m_maxWaitingCommands = defaultMaxWaitingCommands;
};

} // namespace Tavrix::DeviceWebApi
