#include "usb/usbdevicemanager.h"

#include "common/bytearrayprovider.h"
#include "common/bytereader.h"
#include "common/jterminal.h"
#include "common/simplelogger.h"
#include "usb/adcchannelsmanager.h"
#include "usb/bytecommand.h"
#include "usb/complexcommand.h"
#include "usb/complexcommandcreatedata.h"
#include "usb/devicebaseinfoaggregator.h"
#include "usb/devicecommandstatusconverter.h"
#include "usb/devicecommandstatusinfo.h"
#include "usb/operationrunner.h"
#include "usb/gettimecommand.h"
#include "usb/readcableexistcommand.h"
#include "usb/readecgmodecommand.h"
#include "usb/recorderframe.h"
#include "usb/usbcmdlistener.h"
#include "usb/usbcmdwriter.h"

#include <iostream>

namespace Tavrix::Usb {

using Common::ByteArrayProvider;
using Common::JTerminal;

const char* const UsbDeviceManager::errorType = "CommandError";

namespace {

constexpr int kPollIntervalMs = 300;
constexpr int kIdentifyRetryMs = 1000;
constexpr size_t kMinNameAnswerSize = 12;
constexpr uint8_t kEchoByte = 0xDD;
constexpr uint8_t kDefaultEcgSignalCount = 8;

// The name request carries a real CRC-16/MODBUS (bytes 99 CD), unlike every
// other request.
const std::vector<uint8_t> kNameRequest = RecorderFrame::request(0x02, {}, 0xCD99);
const std::vector<uint8_t> kEchoRequest = RecorderFrame::request(0x01, {kEchoByte});
const std::vector<uint8_t> kAdcOnRequest = RecorderFrame::request(0x07, {0x01});

std::string quoted(const std::string& name)
{
    return "Command \"" + name + "\"";
}

std::string statusText(DeviceCommand::EStatus status)
{
    return DeviceCommandStatusConverter::toText(status);
}

DeviceCommand::EStatus codeOf(const std::shared_ptr<DeviceCommandStatus>& status)
{
    // A missing status object cannot mean success.
    return status ? status->status : DeviceCommand::UNKNOWN_ERROR;
}

std::string wrongFrameText(const std::string& name, const std::vector<uint8_t>& answer)
{
    return quoted(name) + " finished with error: " + statusText(DeviceCommand::WRONG_FRAME_FORMAT)
         + " [" + ByteArrayProvider::packToText(answer) + "]";
}

std::shared_ptr<ComplexCommandCreateData<unsigned>> uidData(unsigned int uid)
{
    return std::make_shared<ComplexCommandCreateData<unsigned>>(uid);
}

} // namespace

UsbDeviceManager::UsbDeviceManager(UsbCmdWriter<4>* writer,
                                   UsbCmdListener<133>* listener,
                                   const std::unordered_map<int, DevicesInfo::DeviceCommonInfo>& devices,
                                   const std::vector<CableTypeInfo>& cableTypes,
                                   ComplexCommandFactory* factory,
                                   std::shared_ptr<AdcChannelsManager> channels,
                                   const std::unordered_set<UsbDeviceManagerFlags>& flags)
    : QObject(nullptr)
    , m_commandSet(devices, factory, this)
    , m_devices(devices)
    , m_channels(channels.get())
    , m_channelsShared(std::move(channels))
    , m_queue(writer, listener, this)
    , m_pollTimer(this)
    , m_identifyTimer(this)
    , m_flags(flags)
    , m_cableTypes(cableTypes)
    , m_factory(factory)
{
    qRegisterMetaType<std::string>("std::string");
    qRegisterMetaType<std::vector<uint8_t>>("std::vector<uint8_t>");
    Common::DateTimeObject::registerMetaType();
    UsbDevice::registerMetaType();

    connect(&m_queue, &ByteCommandQueue::signalCommandError, this,
            &UsbDeviceManager::handleCommandError, Qt::QueuedConnection);
    m_pollTimer.setInterval(kPollIntervalMs);
    m_pollConnection = connect(&m_pollTimer, &QTimer::timeout, this, &UsbDeviceManager::checkDeviceExist);
    m_identifyTimer.setSingleShot(true);
    m_identifyTimer.setInterval(kIdentifyRetryMs);
    connect(&m_identifyTimer, &QTimer::timeout, this, [this] {
        if (m_devicePresent && !m_identified)
            identify();
    });
}

UsbDeviceManager::~UsbDeviceManager()
{
    m_pollTimer.stop();
}

void UsbDeviceManager::handleDeviceConnect()
{
    m_devicePresent = true;
    m_identifyAttempts = 0;
    m_queue.setDeviceConnected(true);
    identify();
}

void UsbDeviceManager::identify()
{
    ++m_identifyAttempts;
    sendRequest(this, &m_queue, "Name", kNameRequest, &UsbDeviceManager::handleNameCommandAnswer);
}

void UsbDeviceManager::identificationFailed()
{
    if (!m_devicePresent)
        return;
    JTerminal('1') << "identification failed (attempt" << m_identifyAttempts << ") - trying again in"
                   << kIdentifyRetryMs << "ms";
    m_identifyTimer.start();
}

void UsbDeviceManager::handleDeviceDisconnect()
{
    m_devicePresent = false;
    m_pollTimer.stop();
    m_identifyTimer.stop();
    m_queue.handleDeviceDisconnect();
    m_connectedDeviceInfo = DeviceInfo();
    m_workingDeviceInfo = DeviceInfo();
    m_commandSet.resetDeviceInfo();
    m_identified = false;
}

void UsbDeviceManager::handleNameCommandAnswer(std::shared_ptr<ByteCommand>,
                                               const std::vector<uint8_t>& answer,
                                               int32_t status)
{
    if (!m_devicePresent)
        status = DeviceCommand::DEVICE_DISCONNECTED;
    // The queue reports every failed request; the manager's own summary of
    // the failure is given once.
    const bool report = m_identifyAttempts <= 1;
    if (status != DeviceCommand::OK) {
        if (report || status == DeviceCommand::DEVICE_DISCONNECTED)
            sendCommandFinishError("Name", static_cast<DeviceCommand::EStatus>(status));
        identificationFailed();
        return;
    }
    if (answer.size() < kMinNameAnswerSize) {
        if (report)
            emitCommandError(wrongFrameText("Name", answer));
        identificationFailed();
        return;
    }

    // After two reserved bytes: type, hardware version, software version. The
    // minimum size above guarantees the three.
    Common::ByteReader identity(answer, 6);
    uint16_t type = 0;
    uint16_t hardwareVersion = 0;
    uint16_t softwareVersion = 0;
    identity.readU16(type);
    identity.readU16(hardwareVersion);
    identity.readU16(softwareVersion);
    DeviceInfo working;
    const auto description = m_devices.find(type);
    if (description != m_devices.end())
        working.setDescription(description->second);
    // An unknown type still connects, with an empty description.
    working.type = type;
    working.hardwareVersion = hardwareVersion;
    working.softwareVersion = softwareVersion;
    working.versionExtension = DeviceBaseInfoAggregator::getDeviceExtension(answer);
    m_workingDeviceInfo = std::move(working);
    JTerminal('1') << "connected device name:" << DeviceBaseInfoAggregator::getDeviceName(m_workingDeviceInfo);

    if (hasFlag(UsbDeviceManagerFlags::NoClockRead)) {
        publishDevice();
        return;
    }
    // The clock read goes through the command set, which needs the device.
    m_connectedDeviceInfo = m_workingDeviceInfo;
    m_commandSet.setDeviceInfo(m_connectedDeviceInfo);
    getTime();
}

void UsbDeviceManager::getTime()
{
    std::cout << "getTime (0)" << std::endl;
    const auto command = std::dynamic_pointer_cast<GetTimeCommand>(
        m_commandSet.createComplexCommand("GetTime", uidData(m_queue.generateUid())));
    if (!command) {
        sendImplementationNotFoundError("GetTime");
        std::cout << "getTime (2)" << std::endl;
        return;
    }
    if (started(command->name(),
                runOperation(command, m_runningCommands, this, &UsbDeviceManager::handleGetTimeCommandAnswer)))
        std::cout << "getTime (1)" << std::endl;
    else
        std::cout << "getTime (3)" << std::endl;
}

void UsbDeviceManager::handleGetTimeCommandAnswer(ComplexCommand* command_,
                                                  Common::DateTimeObject dateTime_,
                                                  std::shared_ptr<DeviceCommandStatus> status_)
{
    if (!m_devicePresent)
        status_ = std::make_shared<DeviceCommandStatus>(DeviceCommand::DEVICE_DISCONNECTED);
    const std::string name = command_->name();
    if (codeOf(status_) != DeviceCommand::OK) {
        if (m_identifyAttempts <= 1 || codeOf(status_) == DeviceCommand::DEVICE_DISCONNECTED)
            sendCommandFinishError(name, status_);
        identificationFailed();
        return;
    }

    m_workingDeviceInfo.dateTime = dateTime_;
    publishDevice();
    tryAdcOn();
    if (hasFlag(UsbDeviceManagerFlags::PollCable) || hasFlag(UsbDeviceManagerFlags::PollCableAlt)) {
        disconnect(m_pollConnection);
        m_pollConnection = connect(&m_pollTimer, &QTimer::timeout, this, &UsbDeviceManager::checkCableExist);
        m_pollTimer.start();
    }
}

void UsbDeviceManager::publishDevice()
{
    if (m_channels)
        m_channels->setConnectedDeviceInfo(m_workingDeviceInfo);
    m_connectedDeviceInfo = m_workingDeviceInfo;
    m_commandSet.setDeviceInfo(m_connectedDeviceInfo);
    m_identified = true;
    emit deviceIsConnected();
}

void UsbDeviceManager::tryAdcOn()
{
    if (hasFlag(UsbDeviceManagerFlags::NoAdcOn))
        return;
    sendRequest(this, &m_queue, "AdcOn", kAdcOnRequest, &UsbDeviceManager::handleAdcOnCommandAnswer);
}

void UsbDeviceManager::handleAdcOnCommandAnswer(std::shared_ptr<ByteCommand>,
                                                const std::vector<uint8_t>&,
                                                int32_t status)
{
    if (status != DeviceCommand::OK)
        sendCommandFinishError("AdcOn", static_cast<DeviceCommand::EStatus>(status));
}

void UsbDeviceManager::checkDeviceExist()
{
    if (!m_devicePresent || !m_pollReady)
        return;
    m_pollReady = false;
    sendRequest(this, &m_queue, "Echo", kEchoRequest, &UsbDeviceManager::handleEchoCommandAnswer);
}

void UsbDeviceManager::handleEchoCommandAnswer(std::shared_ptr<ByteCommand>,
                                               const std::vector<uint8_t>& answer,
                                               int32_t status)
{
    m_pollReady = true;
    if (!m_devicePresent)
        return;
    uint8_t echoed = 0;
    const bool right = answer.size() == kEchoRequest.size() && RecorderFrame::fields(answer).readU8(echoed)
                       && echoed == kEchoByte;
    if (!right) {
        emitCommandError(wrongFrameText("Echo", answer));
        return;
    }
    if (status != DeviceCommand::OK && status != DeviceCommand::TIMEOUT
        && status != DeviceCommand::WRONG_FRAME_FORMAT)
        sendCommandFinishError("Echo", static_cast<DeviceCommand::EStatus>(status));
}

void UsbDeviceManager::checkCableExist()
{
    if (!m_devicePresent || !m_pollReady)
        return;
    m_pollReady = false;
    const auto command = std::dynamic_pointer_cast<ReadCableExistCommand>(
        m_commandSet.createComplexCommand("ReadCableExist", uidData(m_queue.generateUid())));
    if (!command) {
        // Without an implementation every poll would fail the same way:
        // report it once and stop polling for this connection.
        sendImplementationNotFoundError("ReadCableExist");
        m_pollTimer.stop();
        m_pollReady = true;
        return;
    }
    if (!started(command->name(),
                 runOperation(command, m_runningCommands, this, &UsbDeviceManager::handleReadCableExistAnswer)))
        m_pollReady = true;
}

void UsbDeviceManager::handleReadCableExistAnswer(ComplexCommand* command,
                                                  bool cableExist,
                                                  std::shared_ptr<DeviceCommandStatus> statusInfo)
{
    const std::string name = command->name();
    const DeviceCommand::EStatus code = codeOf(statusInfo);
    if (!m_devicePresent || code == DeviceCommand::TIMEOUT) {
        m_pollReady = true;
        return;
    }
    if (code != DeviceCommand::OK) {
        m_workingDeviceInfo.cablePresent = false;
        m_connectedDeviceInfo.cablePresent = false;
        sendCommandFinishError(name, statusInfo);
        JTerminal('1') << "CableIsDisconnected";
        emit cableIsDisconnected();
        setEcgSignalCount(kDefaultEcgSignalCount);
        m_pollReady = true;
        return;
    }
    if (cableExist == m_connectedDeviceInfo.cablePresent) {
        m_pollReady = true;
        return;
    }
    m_workingDeviceInfo.cablePresent = cableExist;
    m_connectedDeviceInfo.cablePresent = cableExist;
    if (cableExist) {
        // The poll stays busy until the cable's ECG mode has been read.
        handleCableConnect();
    } else {
        handleCableDisconnect();
        m_pollReady = true;
    }
}

void UsbDeviceManager::handleCableConnect()
{
    JTerminal('1') << "CableIsConnected";
    emit cableIsConnected();
    const auto command = std::dynamic_pointer_cast<ReadEcgModeCommand>(
        m_commandSet.createComplexCommand("ReadEcgMode", uidData(m_queue.generateUid())));
    if (!command) {
        sendImplementationNotFoundError("ReadEcgMode");
        m_pollReady = true;
        return;
    }
    // No answer follows a failed start, so the poll must not wait for one.
    if (!started(command->name(),
                 runOperation(command, m_runningCommands, this, &UsbDeviceManager::handleReadEcgModeCommandAnswer)))
        m_pollReady = true;
}

void UsbDeviceManager::handleReadEcgModeCommandAnswer(ComplexCommand* command,
                                                      UsbDevice::EEcgMode cableMode,
                                                      std::shared_ptr<DeviceCommandStatus> status)
{
    if (!m_devicePresent)
        status = std::make_shared<DeviceCommandStatus>(DeviceCommand::DEVICE_DISCONNECTED);
    const std::string name = command->name();
    if (codeOf(status) != DeviceCommand::OK) {
        sendCommandFinishError(name, status);
    } else {
        std::cout << " cableMode = " << static_cast<int>(cableMode) << std::endl;
        setEcgSignalCount(UsbDevice::ecgSignalCount(cableMode));
    }
    m_pollReady = true;
}

void UsbDeviceManager::handleCableDisconnect()
{
    JTerminal('0') << "CableIsDisconnected";
    emit cableIsDisconnected();
    std::cout << std::endl;
    setEcgSignalCount(kDefaultEcgSignalCount);
}

void UsbDeviceManager::setEcgSignalCount(uint8_t count)
{
    if (m_channels)
        m_channels->setSignalCount({DevicesInfo::EChannelType::Ecg, DevicesInfo::EChannelSource::Device}, count);
}

bool UsbDeviceManager::started(const std::string& name, const std::shared_ptr<DeviceCommandStatus>& status)
{
    const DeviceCommand::EStatus code = codeOf(status);
    if (code != DeviceCommand::OK)
        sendCommandStartError(name, code);
    return code == DeviceCommand::OK;
}

void UsbDeviceManager::handleCommandError(std::string commandName,
                                          std::vector<uint8_t> sendBytes,
                                          std::vector<uint8_t> answer,
                                          int32_t errorCode)
{
    emitCommandError(quoted(commandName) + " finished with error: "
                     + statusText(static_cast<DeviceCommand::EStatus>(errorCode)) + ".\r\nSend: ["
                     + ByteArrayProvider::packToText(sendBytes) + "], Received: ["
                     + ByteArrayProvider::packToText(answer) + "].");
}

void UsbDeviceManager::sendCommandStartError(const std::string& name, DeviceCommand::EStatus status)
{
    emitCommandError(quoted(name) + " is not executed: " + statusText(status));
}

void UsbDeviceManager::sendCommandFinishError(const std::string& name, DeviceCommand::EStatus status)
{
    emitCommandError(quoted(name) + " finished with error: " + statusText(status));
}

void UsbDeviceManager::sendCommandFinishError(const std::string& name,
                                              std::shared_ptr<DeviceCommandStatus> status)
{
    const DeviceCommand::EStatus code = codeOf(status);
    std::string text = quoted(name) + " finished with error: " + statusText(code);
    if (code == DeviceCommand::WRONG_FRAME_FORMAT) {
        const auto withAnswer = std::dynamic_pointer_cast<DeviceCommandStatusInfo<std::vector<uint8_t>>>(status);
        if (withAnswer)
            text += " [" + ByteArrayProvider::packToText(withAnswer->info) + "]";
    }
    emitCommandError(text);
}

void UsbDeviceManager::sendImplementationNotFoundError(const std::string& name)
{
    emitCommandError("Implementation \"" + name + "\" is not found");
}

void UsbDeviceManager::setErrorLog(Common::SimpleLogger* errorLog)
{
    m_errorLog = errorLog;
    m_queue.setErrorLog(errorLog);
}

void UsbDeviceManager::writeErrorLog(const std::string& text)
{
    if (m_errorLog != nullptr)
        m_errorLog->write(text);
}

void UsbDeviceManager::emitCommandError(const std::string& text)
{
    emit signalError(errorType, text);
}

} // namespace Tavrix::Usb
