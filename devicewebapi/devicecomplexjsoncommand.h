#pragma once

#include "devicewebapi/jsoncommandstatuscreator.h"
#include "net/webapi/jsoncommand.h"
#include "usb/complexcommand.h"
#include "usb/complexcommandcreatedata.h"
#include "usb/complexcommandcreatemultidata.h"
#include "usb/devicecommandstatus.h"
#include "usb/operationrunner.h"
#include "usb/usbdevicemanager.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace Tavrix::DeviceWebApi {

// Base of every web command that runs a device operation. A front end reads
// and checks its request (requestData() for one that takes "data"), calls
// startOperation() with the operation class it knows and its answer handler,
// and in that handler builds its JSON answer and calls reportAnswer().
// Everything between (uid, creation through the device's command set,
// keeping the operation alive, connecting, executing, releasing) happens
// here once; GetTimeJsonCommand is the shortest complete front end, and
// SingleValueJsonCommand serves those whose answer is one value.
//
// An operation that the connected device's description does not bind, or
// binds to a handler without a creator or of another operation class, is
// answered with "NOT_EXIST" (the web answer "failure after start") and a
// "CommandError" on the device manager; nothing is executed.
class DeviceComplexJsonCommand : public Net::WebApi::JsonCommand
{
    Q_OBJECT

public:
    using JsonCommandStatusPtr = std::shared_ptr<Net::WebApi::JsonCommandStatus>;
    using DeviceStatusPtr = std::shared_ptr<Usb::DeviceCommandStatus>;

    explicit DeviceComplexJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                      QObject* parent = nullptr);
    DeviceComplexJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                             Usb::UsbDeviceManager* manager,
                             QObject* parent = nullptr);
    ~DeviceComplexJsonCommand() override;

    Usb::UsbDeviceManager* deviceManager() const { return m_deviceManager; }
    size_t executedCommandCount() const { return m_executedCommands.size(); }

    static bool isOk(const DeviceStatusPtr& status) { return status && status->status == Usb::DeviceCommand::OK; }

protected:
    // The whole front-end sequence for the operation `Operation` named by the
    // request (matched ignoring letter case against the device description):
    // copies the request's uid, takes an operation uid from the device queue,
    // creates the operation with `args` after that uid, connects its
    // answerIsReady to `handler` and executes it. The operation is released
    // just before `handler` runs (it stays valid during the call). `handler`
    // is a member of the front end with exactly the parameters of
    // Operation::answerIsReady.
    template<typename Operation, typename Derived, typename... HandlerArgs, typename... Args>
    JsonCommandStatusPtr startOperation(const Net::WebApi::IJsonCommandInfo& info,
                                        void (Derived::*handler)(HandlerArgs...),
                                        Args... args);

    // Same, with an explicit operation name (for a front end whose operation
    // is not named like its command).
    template<typename Operation, typename Derived, typename... HandlerArgs, typename... Args>
    JsonCommandStatusPtr startNamedOperation(const std::string& operationName,
                                             void (Derived::*handler)(HandlerArgs...),
                                             Args... args);

    // Emits the single answer of this command: `answer` on success, an empty
    // document on failure, with the device status turned into a web status.
    // Must be the handler's last action: the receiver may release this command.
    void reportAnswer(const QJsonObject& answer, const DeviceStatusPtr& status);
    void reportAnswer(const QJsonDocument& answer, const DeviceStatusPtr& status);
    // Emits a failure without a device status (e.g. the operation is missing).
    void reportError(Usb::DeviceCommand::EStatus code);

    // Status for a request whose arguments are malformed; execute() returns it.
    static JsonCommandStatusPtr badData();
    // The same, telling the client which argument and why ("Surname: ü cannot
    // be stored by the recorder"); the answer carries it as "errortext".
    static JsonCommandStatusPtr badData(const std::string& reason);
    // badData() for a request whose "data" cannot be read at all, with the
    // trace line that says so.
    static JsonCommandStatusPtr uninterpretable();

    // The request's "data", its uid taken as this command's; nothing (after
    // the trace line of uninterpretable()) when the request is not a web
    // request or carries no data. optionalRequestData() also accepts a
    // request without data and gives it as a null value.
    std::optional<QVariant> requestData(const std::shared_ptr<Net::WebApi::IJsonCommandInfo>& info);
    std::optional<QVariant> optionalRequestData(const std::shared_ptr<Net::WebApi::IJsonCommandInfo>& info);

    Usb::UsbDeviceManager* m_deviceManager = nullptr;
    Usb::RunningOperations m_executedCommands;

private:
    // Creates the operation through the device's command set; empty when it
    // cannot be had (no manager, not bound, other class). Reports why.
    std::shared_ptr<Usb::ComplexCommand> createOperation(const std::string& operationName,
                                                         std::shared_ptr<Usb::IComplexCommandCreateData> data);
    JsonCommandStatusPtr answerMissingOperation(const std::string& operationName);
    std::string operationNameOf(const Net::WebApi::IJsonCommandInfo& info) const;
    uint32_t nextOperationUid();

    template<typename... Args>
    static std::shared_ptr<Usb::IComplexCommandCreateData> makeCreateData(uint32_t uid, Args... args)
    {
        if constexpr (sizeof...(Args) == 0)
            return std::make_shared<Usb::ComplexCommandCreateData<unsigned>>(uid);
        else
            return std::make_shared<Usb::ComplexCommandCreateMultidata<unsigned, Args...>>(uid, std::move(args)...);
    }
};

template<typename Operation, typename Derived, typename... HandlerArgs, typename... Args>
DeviceComplexJsonCommand::JsonCommandStatusPtr
DeviceComplexJsonCommand::startOperation(const Net::WebApi::IJsonCommandInfo& info,
                                         void (Derived::*handler)(HandlerArgs...),
                                         Args... args)
{
    m_uid = info.m_uid;
    return startNamedOperation<Operation>(operationNameOf(info), handler, std::move(args)...);
}

template<typename Operation, typename Derived, typename... HandlerArgs, typename... Args>
DeviceComplexJsonCommand::JsonCommandStatusPtr
DeviceComplexJsonCommand::startNamedOperation(const std::string& operationName,
                                              void (Derived::*handler)(HandlerArgs...),
                                              Args... args)
{
    static_assert(std::is_base_of_v<DeviceComplexJsonCommand, Derived>, "handler must belong to a front end");
    static_assert(std::is_base_of_v<Usb::ComplexCommand, Operation>, "Operation must be an operation class");

    const std::shared_ptr<Usb::ComplexCommand> created =
        createOperation(operationName, makeCreateData(nextOperationUid(), std::move(args)...));
    const std::shared_ptr<Operation> operation = std::dynamic_pointer_cast<Operation>(created);
    if (!operation)
        return answerMissingOperation(operationName);

    return JsonCommandStatusCreator::create(
        Usb::runOperation(operation, m_executedCommands, static_cast<Derived*>(this), handler));
}

} // namespace Tavrix::DeviceWebApi
