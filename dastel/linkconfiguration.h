#pragma once

#include "dastel/settings.h"
#include "devicewebapi/devicecommandlinker.h"
#include "devicesinfo/deviceinfojsonparser.h"
#include "usb/cabletypeinfo.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace Tavrix::Usb {
class ComplexCommandFactory;
class IEventMessagePacker;
class UsbEventLoopWorker;
} // namespace Tavrix::Usb

namespace Tavrix::Common {
class MessagePacker;
}

namespace Tavrix::Net::WebApi {
class AccessPolicy;
class ConnectionLimits;
class DirectoryQueue;
class JsonCommandFactory;
class WebApiServer;
class exeGet;
class exePost;
} // namespace Tavrix::Net::WebApi

namespace Tavrix::Net::WebSockets {
class WebSocketServer;
class WebSocketTerminal;
} // namespace Tavrix::Net::WebSockets

namespace Tavrix::Dastel {

// The composition root: reads the configuration next to the executable,
// builds every long-lived component once, in a fixed order, wires them, and
// turns connection changes and errors into event messages.
class LinkConfiguration : public QObject
{
    Q_OBJECT

public:
    explicit LinkConfiguration(const QString& appDir, QObject* parent = nullptr);
    ~LinkConfiguration() override;

    // True when every configuration file was read and the components exist.
    bool isBuilt() const { return m_built; }

    void sendEventWithoutData(const std::string& name);

public slots:
    void slotError(std::string errorType, std::string message);
    void slotDeviceConnect();
    void slotDeviceDisconnect();
    void slotCableConnect();
    void slotCableDisconnect();

private:
    bool readDescriptions(const QString& dir, DevicesInfo::DeviceInfoMap& devices);
    bool readCableTypes(const QString& dir, std::vector<Usb::CableTypeInfo>& cables);
    // The components in creation order, each step using what the earlier made.
    void build(const Settings& settings, const DevicesInfo::DeviceInfoMap& devices,
               const std::vector<Usb::CableTypeInfo>& cables);
    void startUsbWorker(const Settings& settings, const DevicesInfo::DeviceInfoMap& devices,
                        const std::vector<Usb::CableTypeInfo>& cables);
    void createHttpRoutes(const Settings& settings);
    void linkDeviceOperations();
    std::unique_ptr<Net::WebApi::exeGet> createRecordingsRoute();
    void startWebApiServer(const Settings& settings);
    std::shared_ptr<Net::WebApi::AccessPolicy> createAccessPolicy(const Settings& settings) const;
    void startStreamServers(const Settings& settings, const std::shared_ptr<Net::WebApi::AccessPolicy>& access);
    void connectWorkerEvents();
    void connectArchiveEvents();

    void addGetRoute(const QString& name, std::unique_ptr<Net::WebApi::exeGet> handler);
    void addPostRoute(const QString& name, std::unique_ptr<Net::WebApi::exePost> handler);
    void sendEventMessage(const std::function<void(Common::MessagePacker&)>& packData);
    void sendEvent(Usb::IEventMessagePacker& event);

    bool m_built = false;
    // A recorder was announced with "deviceConnect" and not yet with
    // "deviceDisconnect": the two alternate, and a recorder that was never
    // identified is never reported as gone.
    bool m_deviceAnnounced = false;
    Net::WebSockets::WebSocketServer* adcSocket = nullptr;
    Net::WebSockets::WebSocketServer* eventSocket = nullptr;
    std::unordered_map<std::string, std::shared_ptr<Usb::IEventMessagePacker>> m_eventPackers;

    // The process-wide components, in creation order; members are destroyed
    // in reverse order (the terminal first, the command factories last).
    std::unique_ptr<Usb::ComplexCommandFactory> m_complexCommandFactory;
    std::unique_ptr<Net::WebApi::JsonCommandFactory> m_jsonCommandFactory;
    std::unique_ptr<Usb::UsbEventLoopWorker> m_usb;
    // The read-out store and the signal recorder; they go before the worker.
    DeviceWebApi::LinkServices m_services;
    std::unique_ptr<Net::WebApi::DirectoryQueue> m_htmlDirectories;
    // The HTTP routes by name, and the handlers they lead to.
    QMap<QString, Net::WebApi::exeGet*> m_exeGet;
    std::vector<std::unique_ptr<Net::WebApi::exeGet>> m_getHandlers;
    QMap<QString, Net::WebApi::exePost*> m_exePost;
    std::vector<std::unique_ptr<Net::WebApi::exePost>> m_postHandlers;
    std::unique_ptr<Net::WebApi::ConnectionLimits> m_connectionLimits;
    std::unique_ptr<Net::WebApi::WebApiServer> m_webApiServer;
    std::unique_ptr<Net::WebSockets::WebSocketServer> m_adcSocket;
    std::unique_ptr<Net::WebSockets::WebSocketServer> m_eventSocket;
    std::unique_ptr<Net::WebSockets::WebSocketTerminal> m_jet;
};

} // namespace Tavrix::Dastel
