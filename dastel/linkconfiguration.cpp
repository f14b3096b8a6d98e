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
    startUsbWorker(settings, devices, cables);
    createHttpRoutes(settings);
    linkDeviceOperations();
    startWebApiServer(settings);
    const std::shared_ptr<Net::WebApi::AccessPolicy> access = createAccessPolicy(settings);
    m_webApiServer->setAccessPolicy(access);
    startStreamServers(settings, access);
    connectWorkerEvents();
    connectArchiveEvents();
    Common::JMessageHandler::ExtTerminal(m_jet.get(), true);
}

void LinkConfiguration::startUsbWorker(const Settings& settings,
                                       const DevicesInfo::DeviceInfoMap& devices,
                                       const std::vector<Usb::CableTypeInfo>& cables)
{
    m_complexCommandFactory = std::make_unique<Usb::ComplexCommandFactory>();
    m_jsonCommandFactory = std::make_unique<Net::WebApi::JsonCommandFactory>();

    // The signal converter is left as the recorder has it after connecting.
    std::unordered_set<Usb::UsbDeviceManagerFlags> flags = {Usb::UsbDeviceManagerFlags::NoAdcOn};
    // Without the poll, cable events never come and clients keep a stale state.
    if (settings.followCable)
        flags.insert(Usb::UsbDeviceManagerFlags::PollCable);
    m_usb = std::make_unique<Usb::UsbEventLoopWorker>(settings.errorLogPath.toStdString(), devices, cables,
                                                      m_complexCommandFactory.get(), flags);
    m_usb->deviceManager().queue()->setMaxWaitMs(settings.limits.commandQueueTimeoutMs);
    m_usb->startWork();
}

void LinkConfiguration::addGetRoute(const QString& name, std::unique_ptr<Net::WebApi::exeGet> handler)
{
    m_exeGet[name] = handler.get();
    m_getHandlers.push_back(std::move(handler));
}

void LinkConfiguration::addPostRoute(const QString& name, std::unique_ptr<Net::WebApi::exePost> handler)
{
    m_exePost[name] = handler.get();
    m_postHandlers.push_back(std::move(handler));
}

void LinkConfiguration::createHttpRoutes(const Settings& settings)
{
    using namespace Net::WebApi;

    m_htmlDirectories = std::make_unique<DirectoryQueue>();
    for (const QString& directory : settings.htmlDirectories)
        m_htmlDirectories->append(directory);

    addGetRoute("__err", std::make_unique<exeGetError>());
    addGetRoute("__file", std::make_unique<exeGetFileHtml>(m_htmlDirectories.get(), settings.defaultHtmlDirectory));
    // The live log page; its location comes from the "PathToWebTerminal" parameter.
    addGetRoute("terminal", std::make_unique<Net::WebSockets::WebTerminalExeGet>());

    addPostRoute("__err", std::make_unique<exePostError>());
    auto commandRoute = std::make_unique<DeviceWebApi::DeviceWebApiJsonCommand>(&m_usb->deviceManager(),
                                                                               m_jsonCommandFactory.get());
    commandRoute->setMaxWaitingCommands(settings.limits.maxWaitingCommands);
    addPostRoute("cmd", std::move(commandRoute));
}

void LinkConfiguration::linkDeviceOperations()
{
    m_services = DeviceWebApi::LinkServices::create(*m_usb);
    DeviceWebApi::DeviceCommandLinker::createLink(*m_usb, *m_jsonCommandFactory, m_services);

    // Finished memory read-outs are files beside the executable: fetchable
    // over HTTP and announced on the event stream.
    addGetRoute("flash", std::make_unique<Net::WebApi::exeGetFlash>(DeviceWebApi::FlashDataLink::readoutDirectory()));
    if (m_services.recorder)
        addGetRoute("recordings", createRecordingsRoute());
}

std::unique_ptr<Net::WebApi::exeGet> LinkConfiguration::createRecordingsRoute()
{
    QPointer<Archive::SignalRecorder> guarded(m_services.recorder.get());
    // The resting ECG files live beside the BDF recordings and are listed and served with them.
    QPointer<Archive::RestingEcgArchive> ecgs(m_services.restingEcg.get());
    return std::make_unique<Net::WebApi::exeGetRecordings>(
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
}

void LinkConfiguration::startWebApiServer(const Settings& settings)
{
    if (!settings.listenAddressError.isEmpty())
        JTerminal('1') << settings.listenAddressError.toStdString();
    // One count of connections for all four ports, fitted to the open file
    // limit so that descriptors stay free for the recorder.
    m_connectionLimits = std::make_unique<Net::WebApi::ConnectionLimits>(settings.limits.maxConnections,
                                                                         settings.limits.maxConnectionsPerAddress);
    m_connectionLimits->fitToDescriptorLimit();
    m_webApiServer = std::make_unique<Net::WebApi::WebApiServer>(settings.webApiPort, m_exeGet, m_exePost, nullptr,
                                                                 settings.listenAddress);
    m_webApiServer->setConnectionLimits(m_connectionLimits.get());
}

// One policy for the HTTP API and the three WebSocket ports.
std::shared_ptr<Net::WebApi::AccessPolicy> LinkConfiguration::createAccessPolicy(const Settings& settings) const
{
    auto access = std::make_shared<Net::WebApi::AccessPolicy>();
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
    return access;
}

namespace {

// The three WebSocket ports share the policy, the connection count and the
// per-stream client limit.
template<typename Server>
void guard(Server& server, const std::shared_ptr<Net::WebApi::AccessPolicy>& access,
           Net::WebApi::ConnectionLimits* limits, const Settings& settings)
{
    server.setAccessPolicy(access);
    server.setConnectionLimits(limits);
    server.setMaxClients(settings.limits.maxClientsPerStream);
}

} // namespace

void LinkConfiguration::startStreamServers(const Settings& settings,
                                           const std::shared_ptr<Net::WebApi::AccessPolicy>& access)
{
    using Net::WebSockets::WebSocketServer;

    m_adcSocket = std::make_unique<WebSocketServer>(settings.adcPort, settings.listenAddress);
    adcSocket = m_adcSocket.get();
    guard(*adcSocket, access, m_connectionLimits.get(), settings);
    std::shared_ptr<Usb::AdcChannelsManager> channels = m_usb->channelsManager();
    connect(channels.get(), &Usb::AdcChannelsManager::signalTransfer, adcSocket, &WebSocketServer::slotTransfer);

    for (const char* name : {"deviceConnect", "deviceDisconnect", "cableConnect", "cableDisconnect", "examinationInfo"})
        m_eventPackers[name] = std::make_shared<Usb::EventWithoutDataMessagePacker>(name);

    m_eventSocket = std::make_unique<WebSocketServer>(settings.eventPort, settings.listenAddress);
    eventSocket = m_eventSocket.get();
    guard(*eventSocket, access, m_connectionLimits.get(), settings);
    connect(channels.get(), &Usb::AdcChannelsManager::eventTransfer, eventSocket, &WebSocketServer::slotTransfer);

    m_jet = std::make_unique<Net::WebSockets::WebSocketTerminal>(settings.terminalPort, settings.listenAddress);
    guard(*m_jet, access, m_connectionLimits.get(), settings);
    connect(m_jet.get(), &Net::WebSockets::WebSocketTerminal::signalError, this, &LinkConfiguration::slotError,
            Qt::QueuedConnection);
}

void LinkConfiguration::connectWorkerEvents()
{
    using Usb::UsbEventLoopWorker;
    connect(m_usb.get(), &UsbEventLoopWorker::deviceIsConnected, this, &LinkConfiguration::slotDeviceConnect,
            Qt::QueuedConnection);
    connect(m_usb.get(), &UsbEventLoopWorker::deviceIsDisconnected, this, &LinkConfiguration::slotDeviceDisconnect,
            Qt::QueuedConnection);
    connect(m_usb.get(), &UsbEventLoopWorker::cableIsConnected, this, &LinkConfiguration::slotCableConnect,
            Qt::QueuedConnection);
    connect(m_usb.get(), &UsbEventLoopWorker::cableIsDisconnected, this, &LinkConfiguration::slotCableDisconnect,
            Qt::QueuedConnection);
    connect(m_usb.get(), &UsbEventLoopWorker::signalError, this, &LinkConfiguration::slotError, Qt::QueuedConnection);
}

void LinkConfiguration::connectArchiveEvents()
{
    if (Archive::FlashReadoutStore* store = m_services.readouts.get()) {
        connect(store, &Archive::FlashReadoutStore::readoutIsComplete, this,
                [this](const QString& fileName, qint64 size) {
                    Archive::FlashReadoutEventMessagePacker readout(fileName.toStdString(), size);
                    sendEvent(readout);
                });
    }

    if (Archive::SignalRecorder* recorder = m_services.recorder.get()) {
        connect(recorder, &Archive::SignalRecorder::recordingIsComplete, this,
                [this](const QString& fileName, qint64 size, qint64 durationMs, const QString& reason) {
                    DeviceWebApi::SignalRecordingEventMessagePacker recording(fileName.toStdString(), size,
                                                                              durationMs, reason.toStdString());
                    sendEvent(recording);
                });
        connect(recorder, &Archive::SignalRecorder::signalError, this, &LinkConfiguration::slotError);
    }

    // Every client shows the patient in force: tell them when it changes.
    DeviceWebApi::ExaminationInfoStore::setChangeListener([this] { sendEventWithoutData("examinationInfo"); });
    if (DeviceWebApi::BeatDetectorLink* beats = m_services.beats.get()) {
        // Queued: the beat is found inside the channel manager's frame handling.
        connect(beats, &DeviceWebApi::BeatDetectorLink::beatIsReady, eventSocket,
                &Net::WebSockets::WebSocketServer::slotTransfer, Qt::QueuedConnection);
    }
    if (Archive::RestingEcgArchive* ecgs = m_services.restingEcg.get()) {
        connect(ecgs, &Archive::RestingEcgArchive::archiveEvent, this, [this](const QJsonObject& event) {
            sendEventMessage([&event](Common::MessagePacker& packer) {
                packer.packArrayHeader(1);
                packer.packMapHeader(static_cast<uint8_t>(event.size()));
                for (auto it = event.begin(); it != event.end(); ++it) {
                    packer << it.key().toStdString();
                    if (it.value().isBool()) // MessagePack's true and false
                        packer.data().append(static_cast<char>(it.value().toBool() ? 0xC3 : 0xC2));
                    else
                        packer << it.value().toString().toStdString();
                }
            });
        });
        connect(ecgs, &Archive::RestingEcgArchive::signalError, this, &LinkConfiguration::slotError);
    }
}

// Every event message is {"type": "event", "data": ...}.
void LinkConfiguration::sendEventMessage(const std::function<void(Common::MessagePacker&)>& packData)
{
    if (eventSocket == nullptr)
        return;
    Common::MessagePacker packer;
    packer.packMapHeader(2);
    packer << "type" << "event" << "data";
    packData(packer);
    eventSocket->slotTransfer(packer.data());
}

void LinkConfiguration::sendEvent(Usb::IEventMessagePacker& event)
{
    sendEventMessage([&event](Common::MessagePacker& packer) {
        packer.packArrayHeader(1);
        event.pack(packer);
    });
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
    if (it == m_eventPackers.end())
        return;
    // Its data is the event's map itself, not a list of events.
    sendEventMessage([&it](Common::MessagePacker& packer) { it->second->pack(packer); });
}

void LinkConfiguration::slotError(std::string errorType, std::string message)
{
    // Error texts may carry client input; every event client reads them.
    Usb::ErrorEventMessagePacker error(std::move(errorType), Common::LogText::escaped(message));
    sendEvent(error);
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
