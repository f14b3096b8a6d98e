#include "usb/usbeventloopworker.h"

#include "common/jterminal.h"
#include "usb/useradcchannelsmanager.h"

#include <libusb.h>

namespace Tavrix::Usb {

UsbEventLoopWorker::UsbEventLoopWorker(const std::string& errorLogPath,
                                       const std::unordered_map<int, DevicesInfo::DeviceCommonInfo>& devices,
                                       const std::vector<CableTypeInfo>& cableTypes,
                                       ComplexCommandFactory* factory,
                                       const std::unordered_set<UsbDeviceManagerFlags>& flags,
                                       QObject* parent)
    : QThread(parent)
    , m_errorLog(errorLogPath, errorLogMaxSize, errorLogCutSize)
    , m_context(&m_threadLog, &m_errorLog)
    , m_cmdWriter("cmd", &m_context)
    , m_cmdListener("l_cmd", &m_context, commandBufferSize)
    , m_adcListener("l_adc", &m_context, adcBufferSize, adcAggregationPeriodMs, adcReadsInFlight)
    , m_dataListener("l_data", &m_context, dataBufferSize)
    , m_dispatcher(interfaceNumber, &m_context, endpointList())
    , m_channels(createChannelsManager())
    , m_deviceManager(&m_cmdWriter, &m_cmdListener, devices, cableTypes, factory, m_channels, flags)
{
    UsbEndPoint::registerMetaTypes();
    m_deviceManager.setErrorLog(&m_errorLog);
    m_context.setAfterCompletion([this] { serveCommandEndpoints(); });
    // The thread's log lines reach the terminal within logIntervalMs of the
    // first one, a batch at a time; with nothing logged the main thread
    // does not wake for them.
    m_logTimer.setSingleShot(true);
    m_logTimer.setInterval(logIntervalMs);
    connect(&m_logTimer, &QTimer::timeout, this, &UsbEventLoopWorker::slotLog);
    m_threadLog.setOnFirstText([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_logTimer.isActive())
                    m_logTimer.start();
            },
            Qt::QueuedConnection);
    });
}

UsbEventLoopWorker::~UsbEventLoopWorker()
{
    m_running.store(false);
    // The thread may be asleep in libusb's event handling.
    m_context.wakeEventHandler();
    wait();
    // Transfers the members still cancel on their way out find no loop.
    m_context.setAfterCompletion(nullptr);
    // The loop's last lines ("stop !", the session end) would otherwise be lost.
    slotLog();
}

QVector<UsbEndPoint*> UsbEventLoopWorker::endpointList()
{
    QVector<UsbEndPoint*> endpoints{&m_cmdWriter, &m_cmdListener, &m_adcListener};
    endpoints += m_adcListener.extraReads();
    endpoints.append(&m_dataListener);
    return endpoints;
}

std::shared_ptr<AdcChannelsManager> UsbEventLoopWorker::createChannelsManager()
{
    // The manager connects itself to the ADC listener (queued).
    return std::make_shared<UserAdcChannelsManager>(adcBufferSize, &m_adcListener);
}

void UsbEventLoopWorker::startWork()
{
    Common::JTerminal('3') << "UsbEventLoopWorker::startWork thread" << QThread::currentThreadId();

    connect(this, &UsbEventLoopWorker::signalConnect, this, &UsbEventLoopWorker::slotConnect, Qt::QueuedConnection);
    connect(this,
            &UsbEventLoopWorker::signalDisconnect,
            this,
            &UsbEventLoopWorker::slotDisconnect,
            Qt::QueuedConnection);
    connect(&m_deviceManager,
            &UsbDeviceManager::deviceIsConnected,
            this,
            &UsbEventLoopWorker::handleDeviceIsConnected);
    connect(&m_deviceManager,
            &UsbDeviceManager::cableIsConnected,
            this,
            &UsbEventLoopWorker::handleCableIsConnected);
    connect(&m_deviceManager,
            &UsbDeviceManager::cableIsDisconnected,
            this,
            &UsbEventLoopWorker::handleCableIsDisconnected);
    connect(&m_deviceManager, &UsbDeviceManager::signalError, this, &UsbEventLoopWorker::handleCommandError);

    // Set here rather than in run(), so that a worker destroyed right after
    // starting cannot have its stop request overwritten by the new thread.
    m_running.store(true);
    start();
}

bool UsbEventLoopWorker::allocateTransfers()
{
    for (UsbEndPoint* endpoint : m_dispatcher.endpoints()) {
        endpoint->m_transfer = libusb_alloc_transfer(0);
        if (endpoint->m_transfer == nullptr) {
            m_context.logError(" m_transfer == nullptr");
            return false;
        }
    }
    return true;
}

void UsbEventLoopWorker::serveDataEndpoint()
{
    if (m_dataListener.isBusy())
        return;
    if (m_dataListener.isFrameMode() && !m_dataListener.isActive())
        return;
    const int received = m_dataListener.receivedCount();
    if (received > 0) {
        std::vector<uint8_t> bytes(m_dataListener.buffer(), m_dataListener.buffer() + received);
        if (m_dataListener.isFrameMode())
            m_dataListener.handleDataBlockIsReceived(bytes);
        else
            emit m_dataListener.signalAnswer(std::move(bytes), 0);
    }
    m_dataListener.submitRead();
}

bool UsbEventLoopWorker::sendPendingCommand()
{
    // Pending bytes wait while the previous write is in flight.
    if (m_cmdWriter.isBusy() || !m_cmdWriter.hasPendingBytes())
        return false;
    // Commands back to back take link time the signal reads need when the
    // host is slow: once the recorder's buffer is filling, the reads come
    // first, or ECG data would be lost.
    const auto now = std::chrono::steady_clock::now();
    if (m_adcListener.isBehind() && now - m_lastCommandSent < std::chrono::milliseconds(commandIntervalBehindMs))
        return false;
    m_cmdWriter.transfer();
    if (!m_cmdWriter.isBusy())
        return false;
    m_lastCommandSent = now;
    return true;
}

void UsbEventLoopWorker::serveCommandEndpoints()
{
    // Completions also run while transfers are cancelled for a reconnection
    // or a stop: nothing new is submitted then.
    if (m_context.errorState() != 0 || !m_running.load())
        return;
    m_cmdListener.exe();
    // One frame per round from here. libusb keeps reaping for as long as
    // transfers finish, and commands sent back to back from inside that
    // would keep it reaping their writes and answers while the signal reads,
    // resubmitted only after it returns, run out: the recorder would drop
    // frames.
    if (!m_commandSentInRound)
        m_commandSentInRound = sendPendingCommand();
}

void UsbEventLoopWorker::restartEndpoints()
{
    m_channels->restart();
    m_adcListener.reset();
    m_adcListener.submitRead();
    m_dataListener.resetParcer();
    if (m_dataListener.isActive())
        m_dataListener.submitRead();
    m_cmdListener.resetParcer();
    m_cmdListener.submitRead();
    // Bytes queued while the link was down belong to no device.
    m_cmdWriter.dropPendingBytes();
}

void UsbEventLoopWorker::waitBeforeReconnect(bool linkWasUp)
{
    // After a link went down the whole delay passes, so that a recorder that
    // reset itself settles first. While none can be opened the bus is looked
    // at again when libusb tells of an arrival, or after the delay (the
    // fallback where there are no such notices, and for a recorder libusb
    // lost sight of). The wait sleeps in libusb's event handling: an idle
    // service does not wake to look.
    m_dispatcher.waitForEvents(std::chrono::milliseconds(reconnectDelayMs), !linkWasUp, m_running);
}

void UsbEventLoopWorker::run()
{
    m_threadLog << "start !" << '\n';

    bool ready = m_dispatcher.initUsbLib() && m_dispatcher.receiveLibusbVersion() && allocateTransfers();
    if (!ready)
        m_running.store(false);

    // The worker starts as connected: the first pass reports one
    // disconnection, later ones only a link that was up.
    bool linkWasUp = true;
    while (m_running.load()) {
        while (m_context.errorState() == 0 && m_running.load()) {
            m_commandSentInRound = false;
            m_dispatcher.handleUsbEvents();
            sendPendingCommand();
            m_cmdListener.exe();
            m_adcListener.exe();
            serveDataEndpoint();
            // Bytes queued while the endpoints were served go out now, not
            // after the next round of event handling has reaped every
            // finished transfer: a command waits the shorter time.
            sendPendingCommand();
        }
        if (!m_running.load())
            break;

        m_cmdWriter.dropPendingBytes();
        // Also after a failed open, which may leave the device open.
        m_dispatcher.freeTransfers();
        m_dispatcher.closeDevice();
        if (linkWasUp)
            emit signalDisconnect();

        waitBeforeReconnect(linkWasUp);
        linkWasUp = false;
        if (!m_running.load())
            break;
        if (!m_dispatcher.openDevice()) {
            // Retried on the next arrival, or a second later as long as it
            // fails; a recorder libusb lost sight of is only seen again
            // through a new context.
            if (m_dispatcher.isRecorderPresentButUnlisted()) {
                m_threadLog << "recorder on the bus but not listed by libusb: restarting libusb" << '\n';
                // Transfers hold the old context's devices: they go first.
                for (UsbEndPoint* endpoint : m_dispatcher.endpoints())
                    endpoint->releaseTransfer();
                if (!m_dispatcher.restartUsbLib() || !allocateTransfers())
                    m_threadLog << "libusb restart failed; trying again" << '\n';
            }
            continue;
        }

        linkWasUp = true;
        restartEndpoints();
        emit signalConnect();
    }

    m_threadLog << "stop !" << '\n';
    if (ready) {
        m_dispatcher.freeTransfers();
        for (UsbEndPoint* endpoint : m_dispatcher.endpoints())
            endpoint->releaseTransfer();
        m_dispatcher.closeDevice();
    }
    m_dispatcher.deinitUsbLib();
}

void UsbEventLoopWorker::slotConnect()
{
    m_threadLog << '\n';
    m_connected = true;
    m_deviceManager.handleDeviceConnect();
}

void UsbEventLoopWorker::slotDisconnect()
{
    if (!m_connected)
        return;
    m_threadLog << '\n';
    m_connected = false;
    m_deviceManager.handleDeviceDisconnect();
    emit deviceIsDisconnected();
}

void UsbEventLoopWorker::slotLog()
{
    const std::string text = m_threadLog.take();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            Common::JTerminal('0') << text.substr(start, end - start);
        start = end + 1;
    }
}

void UsbEventLoopWorker::slotReset() {}

void UsbEventLoopWorker::handleDeviceIsConnected()
{
    Common::JTerminal('0') << "UsbEventLoopWorker::handleDeviceIsConnected";
    emit deviceIsConnected();
}

void UsbEventLoopWorker::handleCableIsConnected()
{
    emit cableIsConnected();
}

void UsbEventLoopWorker::handleCableIsDisconnected()
{
    emit cableIsDisconnected();
}

void UsbEventLoopWorker::handleCommandError(const std::string& errorType, const std::string& message)
{
    emit signalError(errorType, message);
}

} // namespace Tavrix::Usb
