#pragma once

#include "common/simplelogger.h"
#include "common/threadlogging.h"
#include "devicesinfo/devicecommoninfo.h"
#include "usb/cabletypeinfo.h"
#include "usb/usbadclistener.h"
#include "usb/usbcmdlistener.h"
#include "usb/usbcmdwriter.h"
#include "usb/usbcontext.h"
#include "usb/usbdatalistener.h"
#include "usb/usbdevicemanager.h"
#include "usb/usbdevicemanagerflags.h"
#include "usb/usbdispatcher.h"

#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Tavrix::Usb {

class AdcChannelsManager;
class ComplexCommandFactory;

// The USB side of the process. run() is the only code on the USB thread: it
// keeps libusb's event loop turning, drives the four endpoints and reopens the
// recorder a second after anything goes wrong. The object itself, its
// endpoints, device manager and channel manager live on the main thread.
class UsbEventLoopWorker : public QThread
{
    Q_OBJECT

signals:
    void deviceIsConnected();
    void deviceIsDisconnected();
    void cableIsConnected();
    void cableIsDisconnected();
    void signalError(std::string errorType, std::string message);
    void signalDisconnect();
    void signalConnect();

public:
    static constexpr uint32_t commandBufferSize = 65535;
    static constexpr uint32_t adcBufferSize = 128;
    static constexpr uint32_t dataBufferSize = 1048576;
    static constexpr uint32_t reconnectDelayMs = 1000;
    static constexpr uint32_t adcAggregationPeriodMs = 20;
    // Signal reads kept in flight, so the recorder's buffer keeps draining
    // while the USB thread serves commands.
    static constexpr uint32_t adcReadsInFlight = 4;
    // While the signal reads are behind, a command frame goes at most this
    // often: the commands still move (queued, none dropped) and the
    // recorder's buffer drains.
    static constexpr uint32_t commandIntervalBehindMs = 20;
    static constexpr uint64_t errorLogMaxSize = 4194304;
    static constexpr uint64_t errorLogCutSize = 1048576;
    static constexpr uint32_t logIntervalMs = 10;
    static constexpr int interfaceNumber = 1;

    UsbEventLoopWorker(const std::string& errorLogPath,
                       const std::unordered_map<int, DevicesInfo::DeviceCommonInfo>& devices,
                       const std::vector<CableTypeInfo>& cableTypes,
                       ComplexCommandFactory* factory,
                       const std::unordered_set<UsbDeviceManagerFlags>& flags,
                       QObject* parent = nullptr);
    // Stops the loop and waits for it; the loop closes the device on its way out.
    ~UsbEventLoopWorker() override;

    // Wires the signals and starts the USB thread; call once.
    void startWork();

    UsbDeviceManager& deviceManager() { return m_deviceManager; }
    std::shared_ptr<AdcChannelsManager> channelsManager() const { return m_channels; }
    UsbDataListener& dataListener() { return m_dataListener; }
    UsbAdcListener<131>& adcListener() { return m_adcListener; }
    UsbCmdWriter<4>& cmdWriter() { return m_cmdWriter; }
    UsbCmdListener<133>& cmdListener() { return m_cmdListener; }

public slots:
    void slotDisconnect();
    void slotConnect();
    void slotLog();
    void slotReset();
    void handleDeviceIsConnected();
    void handleCableIsConnected();
    void handleCableIsDisconnected();
    void handleCommandError(const std::string& errorType, const std::string& message);

protected:
    void run() override;

private:
    QVector<UsbEndPoint*> endpointList();
    // The one place the channel manager is chosen and fed by the ADC listener.
    std::shared_ptr<AdcChannelsManager> createChannelsManager();
    bool allocateTransfers();
    void serveDataEndpoint();
    // Sends the queued command frame if the endpoint is free and the signal
    // reads are not behind (or the interval has passed); true if it went.
    bool sendPendingCommand();
    // Between two completions inside event handling: a command's frame and
    // its answer move on without waiting for the rest of the round.
    void serveCommandEndpoints();
    void restartEndpoints();
    void waitBeforeReconnect(bool linkWasUp);

    QTimer m_logTimer;
    std::atomic<bool> m_running{false};
    bool m_connected = true;
    bool m_commandSentInRound = false;
    std::chrono::steady_clock::time_point m_lastCommandSent;
    Common::ThreadLogging m_threadLog;
    Common::SimpleLogger m_errorLog;
    UsbContext m_context;
    UsbCmdWriter<4> m_cmdWriter;
    UsbCmdListener<133> m_cmdListener;
    UsbAdcListener<131> m_adcListener;
    UsbDataListener m_dataListener;
    UsbDispatcher m_dispatcher;
    std::shared_ptr<AdcChannelsManager> m_channels;
    UsbDeviceManager m_deviceManager;
};

} // namespace Tavrix::Usb
