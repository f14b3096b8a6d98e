#include "dastel/linkconfiguration.h"

#include "archive/restingecgarchive.h"
#include "common/datetimeobject.h"
#include "common/jfile.h"
#include "common/jmessagehandler.h"
#include "common/jterminal.h"
#include "common/logtext.h"
#include "common/messagepacker.h"
#include "devicewebapi/beatdetectorlink.h"
#include "devicewebapi/devicecommandlinker.h"
#include "devicewebapi/devicewebapijsoncommand.h"
#include "devicewebapi/examinationinfostore.h"
#include "devicewebapi/flashdatalink.h"
#include "archive/flashreadoutstore.h"
#include "archive/signalrecorder.h"
#include "devicewebapi/signalrecordingeventmessagepacker.h"
#include "devicewebapi/signalrecordinglink.h"
#include "net/webapi/accesspolicy.h"
#include "net/webapi/connectionlimits.h"
#include "net/webapi/directoryqueue.h"
#include "net/webapi/exegetflash.h"
#include "net/webapi/exegetrecordings.h"
#include "net/webapi/exeget.h"
#include "net/webapi/exegetfilehtml.h"
#include "net/webapi/exepost.h"
#include "net/webapi/jsoncommandfactory.h"
#include "net/webapi/webapiserver.h"
#include "net/websockets/websocketserver.h"
#include "net/websockets/websocketterminal.h"
#include "net/websockets/webterminalexeget.h"
#include "usb/adcchannelsmanager.h"
#include "usb/cabletypeinfojsonparser.h"
#include "usb/complexcommandfactory.h"
#include "usb/erroreventmessagepacker.h"
#include "usb/eventwithoutdatamessagepacker.h"
#include "usb/usbdevicemanagerflags.h"
#include "usb/usbeventloopworker.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>

namespace Tavrix::Dastel {

using Common::JTerminal;

namespace {

[[noreturn]] void endProcess(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

} // namespace

LinkConfiguration::LinkConfiguration(const QString& appDir, QObject* parent)
    : QObject(parent)
{
    Common::DateTimeObject::registerMetaType();
    qRegisterMetaType<std::string>("std::string");

    const QString settingsPath = appDir + "/settings.json";
    if (!QFileInfo::exists(settingsPath)) {
        JTerminal('1') << "no file" << settingsPath;
        endProcess(1);
    }
    const QJsonDocument document = QJsonDocument::fromJson(Common::JFile::readFile(settingsPath));
    if (!document.isObject()) {
        JTerminal('1') << "json object interpretation error";
        endProcess(1);
    }
    const Settings settings = Settings::fromVariantMap(document.object().toVariantMap(), appDir);

    JTerminal('2') << "Start";
    if (!settings.configurationError.isEmpty()) {
        // As with a faulty description file: nothing is built, nothing served.
        JTerminal('1') << "Error:" << settings.configurationError.toStdString();
        return;
    }

    // Description files are looked up beside the running executable.
    const QString exeDir = QCoreApplication::applicationDirPath();
    DevicesInfo::DeviceInfoMap devices;
    if (!readDescriptions(exeDir, devices))
        return;
    std::vector<Usb::CableTypeInfo> cables;
    if (!readCableTypes(exeDir, cables))
        return;

    build(settings, devices, cables);
    m_built = true;
}

void LinkConfiguration::build(const Settings& settings,
                              const DevicesInfo::DeviceInfoMap& devices,
                              const std::vector<Usb::CableTypeInfo>& cables)
{
    using namespace Net::WebApi;
    using Net::WebSockets::WebSocketServer;

    m_complexCommandFactory = std::make_unique<Usb::ComplexCommandFactory>();
    m_jsonCommandFactory = std::make_unique<JsonCommandFactory>();

    // The signal converter is left as the recorder has it after connecting.
    std::unordered_set<Usb::UsbDeviceManagerFlags> flags = {Usb::UsbDeviceManagerFlags::NoAdcOn};
    // Without the poll, cable events never come and clients keep a stale state.
    if (settings.followCable)
        flags.insert(Usb::UsbDeviceManagerFlags::PollCable);
    m_usb = std::make_unique<Usb::UsbEventLoopWorker>(settings.errorLogPath.toStdString(), devices, cables,
                                                      m_complexCommandFactory.get(), flags);
    m_usb->deviceManager().queue()->setMaxWaitMs(settings.limits.commandQueueTimeoutMs);
    m_usb->startWork();

    m_htmlDirectories = std::make_unique<DirectoryQueue>();
    for (const QString& directory : settings.htmlDirectories)
        m_htmlDirectories->append(directory);

    m_errorExeGet = std::make_unique<exeGetError>();
    m_exeGet["__err"] = m_errorExeGet.get();
    m_getFileExeGet = std::make_unique<exeGetFileHtml>(m_htmlDirectories.get(), settings.defaultHtmlDirectory);
    m_exeGet["__file"] = m_getFileExeGet.get();
    // The live log page; its location comes from the "PathToWebTerminal" parameter.
    m_terminalExeGet = std::make_unique<Net::WebSockets::WebTerminalExeGet>();
    m_exeGet["terminal"] = m_terminalExeGet.get();

    m_errorExePost = std::make_unique<exePostError>();
    m_exePost["__err"] = m_errorExePost.get();
    auto commandRoute = std::make_unique<DeviceWebApi::DeviceWebApiJsonCommand>(&m_usb->deviceManager(),
                                                                               m_jsonCommandFactory.get());
    commandRoute->setMaxWaitingCommands(settings.limits.maxWaitingCommands);
    m_deviceWebApiCommand = std::move(commandRoute);
    m_exePost["cmd"] = m_deviceWebApiCommand.get();

    m_services = DeviceWebApi::LinkServices::create(*m_usb);
    DeviceWebApi::DeviceCommandLinker::createLink(*m_usb, *m_jsonCommandFactory, m_services);

    // Finished memory read-outs are files beside the executable: fetchable
    // over HTTP and announced on the event stream.
    m_flashExeGet = std::make_unique<exeGetFlash>(DeviceWebApi::FlashDataLink::readoutDirectory());
    m_exeGet["flash"] = m_flashExeGet.get();
    if (Archive::SignalRecorder* recorder = m_services.recorder.get()) {
        QPointer<Archive::SignalRecorder> guarded(recorder);
        // The resting ECG files live beside the BDF recordings and are listed and served with them.
        QPointer<Archive::RestingEcgArchive> ecgs(m_services.restingEcg.get());
        m_recordingsExeGet = std::make_unique<exeGetRecordings>(
            [guarded, ecgs](const QString& name) {
                const QString path = guarded ? guarded->pathOf(name) : QString();
                return path.isEmpty() && ecgs ? ecgs->pathOf(name) : path;
            },
            std::function<QByteArray()>([guarded, ecgs] {
                // The recordings' list is kept as JSON text; the resting ECGs join it.
                QByteArray list = guarded ? guarded->listJson() : QByteArray("[]");
                const QJsonArray more = ecgs ? ecgs->list() : QJsonArray();
                if (!more.isEmpty()) {
                    list.chop(1);
                    if (list != "[")
                        list.append(',');
                    list.append(QJsonDocument(more).toJson(QJsonDocument::Compact).mid(1));
                }
                return list;
            }));
        m_exeGet["recordings"] = m_recordingsExeGet.get();
    }

    if (!settings.listenAddressError.isEmpty())
        JTerminal('1') << settings.listenAddressError.toStdString();
    // One count of connections for all four ports, fitted to the open file
    // limit so that descriptors stay free for the recorder.
    m_connectionLimits = std::make_unique<ConnectionLimits>(settings.limits.maxConnections,
                                                            settings.limits.maxConnectionsPerAddress);
    m_connectionLimits->fitToDescriptorLimit();
    m_webApiServer = std::make_unique<WebApiServer>(settings.webApiPort, m_exeGet, m_exePost, nullptr,
                                                    settings.listenAddress);
    m_webApiServer->setConnectionLimits(m_connectionLimits.get());

    // One policy for the HTTP API and the three WebSocket ports.
    auto access = std::make_shared<AccessPolicy>();
    access->setServicePort(m_webApiServer->isListening() ? m_webApiServer->serverPort() : settings.webApiPort);
    access->setAllowedOrigins(settings.allowedOrigins);
    access->setAllowedHosts(settings.allowedHosts);
    QByteArray token = settings.accessToken;
    if (!settings.accessTokenError.isEmpty()) {
        // A token was meant to be set: stay locked rather than open.
        JTerminal('1') << settings.accessTokenError.toStdString() << "; commands and streams stay locked";
        token = QByteArray::number(QRandomGenerator::system()->generate64(), 16)
              + QByteArray::number(QRandomGenerator::system()->generate64(), 16);
    }
    access->setAccessToken(token);
    if (access->tokenRequired())
        JTerminal('2') << "access token required for commands, downloads and WebSockets";
    m_webApiServer->setAccessPolicy(access);

    m_adcSocket = std::make_unique<WebSocketServer>(settings.adcPort, settings.listenAddress);
    adcSocket = m_adcSocket.get();
    adcSocket->setAccessPolicy(access);
    adcSocket->setConnectionLimits(m_connectionLimits.get());
    adcSocket->setMaxClients(settings.limits.maxClientsPerStream);
    std::shared_ptr<Usb::AdcChannelsManager> channels = m_usb->channelsManager();
    connect(channels.get(), &Usb::AdcChannelsManager::signalTransfer, adcSocket, &WebSocketServer::slotTransfer);

    for (const char* name : {"deviceConnect", "deviceDisconnect", "cableConnect", "cableDisconnect", "examinationInfo"})
        m_eventPackers[name] = std::make_shared<Usb::EventWithoutDataMessagePacker>(name);

    m_eventSocket = std::make_unique<WebSocketServer>(settings.eventPort, settings.listenAddress);
    eventSocket = m_eventSocket.get();
    eventSocket->setAccessPolicy(access);
    eventSocket->setConnectionLimits(m_connectionLimits.get());
    eventSocket->setMaxClients(settings.limits.maxClientsPerStream);
    connect(channels.get(), &Usb::AdcChannelsManager::eventTransfer, eventSocket, &WebSocketServer::slotTransfer);

    m_jet = std::make_unique<Net::WebSockets::WebSocketTerminal>(settings.terminalPort, settings.listenAddress);
    m_jet->setAccessPolicy(access);
    m_jet->setConnectionLimits(m_connectionLimits.get());
    m_jet->setMaxClients(settings.limits.maxClientsPerStream);
    connect(m_jet.get(), &Net::WebSockets::WebSocketTerminal::signalError, this, &LinkConfiguration::slotError,
            Qt::QueuedConnection);

    connect(m_usb.get(), &Usb::UsbEventLoopWorker::deviceIsConnected, this, &LinkConfiguration::slotDeviceConnect,
            Qt::QueuedConnection);
    connect(m_usb.get(), &Usb::UsbEventLoopWorker::deviceIsDisconnected, this,
            &LinkConfiguration::slotDeviceDisconnect, Qt::QueuedConnection);
    connect(m_usb.get(), &Usb::UsbEventLoopWorker::cableIsConnected, this, &LinkConfiguration::slotCableConnect,
            Qt::QueuedConnection);
    connect(m_usb.get(), &Usb::UsbEventLoopWorker::cableIsDisconnected, this,
            &LinkConfiguration::slotCableDisconnect, Qt::QueuedConnection);
    connect(m_usb.get(), &Usb::UsbEventLoopWorker::signalError, this, &LinkConfiguration::slotError,
            Qt::QueuedConnection);

    if (Archive::FlashReadoutStore* store = m_services.readouts.get()) {
        connect(store, &Archive::FlashReadoutStore::readoutIsComplete, this,
                [this](const QString& fileName, qint64 size) {
                    Archive::FlashReadoutEventMessagePacker readout(fileName.toStdString(), size);
                    Common::MessagePacker packer;
                    packer.packMapHeader(2);
                    packer << "type" << "event" << "data";
                    packer.packArrayHeader(1);
                    readout.pack(packer);
                    eventSocket->slotTransfer(packer.data());
                });
    }

    if (Archive::SignalRecorder* recorder = m_services.recorder.get()) {
        connect(recorder, &Archive::SignalRecorder::recordingIsComplete, this,
                [this](const QString& fileName, qint64 size, qint64 durationMs, const QString& reason) {
                    DeviceWebApi::SignalRecordingEventMessagePacker recording(fileName.toStdString(), size,
                                                                              durationMs, reason.toStdString());
                    Common::MessagePacker packer;
                    packer.packMapHeader(2);
                    packer << "type" << "event" << "data";
                    packer.packArrayHeader(1);
                    recording.pack(packer);
                    eventSocket->slotTransfer(packer.data());
                });
        connect(recorder, &Archive::SignalRecorder::signalError, this, &LinkConfiguration::slotError);
    }

    // Every client shows the patient in force: tell them when it changes.
    DeviceWebApi::ExaminationInfoStore::setChangeListener([this] { sendEventWithoutData("examinationInfo"); });
    if (DeviceWebApi::BeatDetectorLink* beats = m_services.beats.get()) {
        // Queued: the beat is found inside the channel manager's frame handling.
        connect(beats, &DeviceWebApi::BeatDetectorLink::beatIsReady, eventSocket, &WebSocketServer::slotTransfer,
                Qt::QueuedConnection);
    }
    if (Archive::RestingEcgArchive* ecgs = m_services.restingEcg.get()) {
        connect(ecgs, &Archive::RestingEcgArchive::archiveEvent, this, [this](const QJsonObject& event) {
            Common::MessagePacker packer;
            packer.packMapHeader(2);
            packer << "type" << "event" << "data";
            packer.packArrayHeader(1);
            packer.packMapHeader(static_cast<uint8_t>(event.size()));
            for (auto it = event.begin(); it != event.end(); ++it) {
                packer << it.key().toStdString();
                if (it.value().isBool()) // MessagePack's true and false
                    packer.data().append(static_cast<char>(it.value().toBool() ? 0xC3 : 0xC2));
                else
                    packer << it.value().toString().toStdString();
            }
            eventSocket->slotTransfer(packer.data());
        });
        connect(ecgs, &Archive::RestingEcgArchive::signalError, this, &LinkConfiguration::slotError);
    }

    Common::JMessageHandler::ExtTerminal(m_jet.get(), true);
}

LinkConfiguration::~LinkConfiguration()
{
    // A recording still running is completed and announced while the
    // event stream is there to tell it.
    if (Archive::SignalRecorder* recorder = m_services.recorder.get()) {
        if (recorder->isRunning())
            recorder->stop(QStringLiteral("Service stopped"));
        recorder->disconnect(this);
    }
    DeviceWebApi::ExaminationInfoStore::setChangeListener({});
    Common::JMessageHandler::ExtTerminal(m_jet.get(), false);
    m_eventPackers.clear();
    // Members go in reverse order of creation: terminal, stream servers,
    // HTTP server, handlers, the USB worker (which stops its thread), the factories.
}

bool LinkConfiguration::readDescriptions(const QString& dir, DevicesInfo::DeviceInfoMap& devices)
{
    if (DevicesInfo::DeviceInfoJsonParser::parseDevicesInfo(dir + "/Devices", dir + "/DeviceCommands",
                                                            dir + "/ComplexCommandHandlers", devices))
        return true;
    JTerminal('1') << "Error: can't read device info";
    return false;
}

bool LinkConfiguration::readCableTypes(const QString& dir, std::vector<Usb::CableTypeInfo>& cables)
{
    return Usb::CableTypeInfoJsonParser::parseCables(Common::JFile::readFile(dir + "/Cables.json"), cables);
}

void LinkConfiguration::sendEventWithoutData(const std::string& name)
{
    std::printf("sendEventWithoutData %s\n", name.c_str());
    std::fflush(stdout);
    const auto it = m_eventPackers.find(name);
    if (it == m_eventPackers.end() || eventSocket == nullptr)
        return;
    Common::MessagePacker packer;
    packer.packMapHeader(2);
    packer << "type" << "event" << "data";
    it->second->pack(packer);
    eventSocket->slotTransfer(packer.data());
}

void LinkConfiguration::slotError(std::string errorType, std::string message)
{
    if (eventSocket == nullptr)
        return;
    // Error texts may carry client input; every event client reads them.
    Usb::ErrorEventMessagePacker error(std::move(errorType), Common::LogText::escaped(message));
    Common::MessagePacker packer;
    packer.packMapHeader(2);
    packer << "type" << "event" << "data";
    packer.packArrayHeader(1);
    error.pack(packer);
    eventSocket->slotTransfer(packer.data());
}

void LinkConfiguration::slotDeviceConnect()
{
    JTerminal('0') << " (1)";
    m_deviceAnnounced = true;
    sendEventWithoutData("deviceConnect");
}

void LinkConfiguration::slotDeviceDisconnect()
{
    if (!m_deviceAnnounced)
        return;
    m_deviceAnnounced = false;
    sendEventWithoutData("deviceDisconnect");
}

void LinkConfiguration::slotCableConnect()
{
    sendEventWithoutData("cableConnect");
}

void LinkConfiguration::slotCableDisconnect()
{
    sendEventWithoutData("cableDisconnect");
}

} // namespace Tavrix::Dastel
