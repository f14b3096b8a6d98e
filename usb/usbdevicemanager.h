#pragma once

#include "common/datetimeobject.h"
#include "devicesinfo/devicecommoninfo.h"
#include "usb/bytecommandqueue.h"
#include "usb/cabletypeinfo.h"
#include "usb/devicecommand.h"
#include "usb/devicecommandstatus.h"
#include "usb/deviceinfo.h"
#include "usb/usbdevice.h"
#include "usb/usbdevicecommandset.h"
#include "usb/usbdevicemanagerflags.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Tavrix::Common {
class SimpleLogger;
}

namespace Tavrix::Usb {

class AdcChannelsManager;
class ByteCommand;
class ComplexCommand;
class ComplexCommandFactory;

// Turns "a USB device was opened" into "a recorder of this type and version
// is connected": asks for its identity and clock, publishes it, optionally
// switches the signal converter on and follows the patient cable. Every
// failed device command becomes one "CommandError" text on signalError.
// Lives on the main thread.
class UsbDeviceManager : public QObject
{
    Q_OBJECT

public:
    UsbDeviceManager(UsbCmdWriter<4>* writer,
                     UsbCmdListener<133>* listener,
                     const std::unordered_map<int, DevicesInfo::DeviceCommonInfo>& devices,
                     const std::vector<CableTypeInfo>& cableTypes,
                     ComplexCommandFactory* factory,
                     std::shared_ptr<AdcChannelsManager> channels,
                     const std::unordered_set<UsbDeviceManagerFlags>& flags);
    ~UsbDeviceManager() override;

    // Called by the USB worker on the main thread.
    void handleDeviceConnect();
    void handleDeviceDisconnect();

    void sendCommandStartError(const std::string& name, DeviceCommand::EStatus status);
    void sendCommandFinishError(const std::string& name, DeviceCommand::EStatus status);
    void sendCommandFinishError(const std::string& name, std::shared_ptr<DeviceCommandStatus> status);
    void sendImplementationNotFoundError(const std::string& name);

    ByteCommandQueue* queue() { return &m_queue; }
    // The error log file of the link; operations record there what a user
    // must know after the fact (what a failed write left on the recorder).
    void setErrorLog(Common::SimpleLogger* errorLog);
    void writeErrorLog(const std::string& text);
    void enqueue(std::shared_ptr<ByteCommand> command) { m_queue.enqueue(std::move(command)); }
    unsigned int generateUid() { return m_queue.generateUid(); }
    UsbDeviceCommandSet* commandSet() { return &m_commandSet; }
    const DeviceInfo& connectedDeviceInfo() const { return m_connectedDeviceInfo; }
    bool isIdentified() const { return m_identified; }
    bool isDevicePresent() const { return m_devicePresent; }
    std::shared_ptr<AdcChannelsManager> channelsManager() const { return m_channelsShared; }
    const std::vector<CableTypeInfo>& cableTypes() const { return m_cableTypes; }
    ComplexCommandFactory* complexCommandFactory() const { return m_factory; }

    // Remembered reo switch state, kept for the pel operations.
    bool isReoStateRead() const { return m_reoStateRead; }
    bool isReoOn() const { return m_reoOn; }
    void setReoState(bool read, bool on)
    {
        m_reoStateRead = read;
        m_reoOn = on;
    }

    static const char* const errorType; // "CommandError"

signals:
    void deviceIsConnected();
    void cableIsConnected();
    void cableIsDisconnected();
    void signalError(std::string errorType, std::string message);

public slots:
    void handleCommandError(std::string commandName,
                            std::vector<uint8_t> sendBytes,
                            std::vector<uint8_t> answer,
                            int32_t errorCode);
    void handleNameCommandAnswer(std::shared_ptr<ByteCommand> command,
                                 const std::vector<uint8_t>& answer,
                                 int32_t status);
    void handleAdcOnCommandAnswer(std::shared_ptr<ByteCommand> command,
                                  const std::vector<uint8_t>& answer,
                                  int32_t status);
    void handleEchoCommandAnswer(std::shared_ptr<ByteCommand> command,
                                 const std::vector<uint8_t>& answer,
                                 int32_t status);
    void handleGetTimeCommandAnswer(ComplexCommand* command_,
                                    Common::DateTimeObject dateTime_,
                                    std::shared_ptr<DeviceCommandStatus> status_);
    void checkDeviceExist();
    void checkCableExist();
    void handleReadCableExistAnswer(ComplexCommand* command,
                                    bool cableExist,
                                    std::shared_ptr<DeviceCommandStatus> statusInfo);
    void handleReadEcgModeCommandAnswer(ComplexCommand* command,
                                        UsbDevice::EEcgMode cableMode,
                                        std::shared_ptr<DeviceCommandStatus> status);

private:
    // Asks for the identity; a failed identification is tried again every
    // second while the recorder stays attached, so one late or lost answer
    // does not leave it unusable until it is plugged again.
    void identify();
    void identificationFailed();
    void getTime();
    void tryAdcOn();
    void publishDevice();
    void handleCableConnect();
    void handleCableDisconnect();
    void setEcgSignalCount(uint8_t count);
    // True when the manager's own operation `name` started; a start
    // failure is reported.
    bool started(const std::string& name, const std::shared_ptr<DeviceCommandStatus>& status);
    void emitCommandError(const std::string& text);
    bool hasFlag(UsbDeviceManagerFlags flag) const { return m_flags.count(flag) != 0; }

    DeviceInfo m_workingDeviceInfo;
    UsbDeviceCommandSet m_commandSet;
    DeviceInfo m_connectedDeviceInfo;
    std::unordered_map<int, DevicesInfo::DeviceCommonInfo> m_devices;
    bool m_identified = false;
    AdcChannelsManager* m_channels;
    std::shared_ptr<AdcChannelsManager> m_channelsShared;
    ByteCommandQueue m_queue;
    std::unordered_map<ComplexCommand*, std::shared_ptr<ComplexCommand>> m_runningCommands;
    QTimer m_pollTimer;
    QTimer m_identifyTimer;
    int m_identifyAttempts = 0;
    QMetaObject::Connection m_pollConnection;
    bool m_devicePresent = false;
    bool m_pollReady = true;
    std::unordered_set<UsbDeviceManagerFlags> m_flags;
    std::vector<CableTypeInfo> m_cableTypes;
    ComplexCommandFactory* m_factory;
    Common::SimpleLogger* m_errorLog = nullptr;
    bool m_reoStateRead = false;
    bool m_reoOn = false;
};

} // namespace Tavrix::Usb
