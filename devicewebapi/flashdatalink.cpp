#include "devicewebapi/flashdatalink.h"

#include "devicecomplexcommands/orvimflashcommands.h"
#include "devicewebapi/flashjsoncommands.h"
#include "devicewebapi/flashreadoutstore.h"
#include "devicecomplexcommands/operationgroupcreators.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/complexcommandfactory.h"
#include "usb/complexdatacommandcreator.h"
#include "usb/usbeventloopworker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

namespace Tavrix::DeviceWebApi {

using namespace DeviceComplexCommands;
using Usb::ComplexDataCommandCreator;
using Usb::UsbDeviceManager;

namespace {
QPointer<FlashReadoutStore> store;
} // namespace

FlashReadoutStore* FlashDataLink::readoutStore()
{
    return store.data();
}

QString FlashDataLink::readoutDirectory()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("flash"));
}

int FlashDataLink::readoutsToKeep()
{
    // Read here, beside the read-out directory it governs; an absent or
    // unreadable settings file keeps the default.
    QFile file(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("settings.json")));
    if (!file.open(QIODevice::ReadOnly))
        return FlashReadoutStore::defaultKeep;
    return FlashReadoutStore::keepFrom(QJsonDocument::fromJson(file.readAll()).object().toVariantMap());
}

void FlashDataLink::link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory)
{
    UsbDeviceManager* const manager = &worker.deviceManager();
    Usb::UsbDataListener* const listener = &worker.dataListener();
    if (Usb::ComplexCommandFactory* operations = manager->complexCommandFactory())
        DeviceComplexCommands::OperationGroupCreators::registerFlash(*operations, manager, listener);
    factory.add<GetWrittenFlashDataCountJsonCommand>(GetWrittenFlashDataCountJsonCommand::createCommandDescription(),
                                                     manager);
    factory.add<StartReceiveFlashDataJsonCommand>(StartReceiveFlashDataJsonCommand::createCommandDescription(), manager);

    // The blocks come from the USB thread; the store writes them on the main thread.
    auto* readouts = new FlashReadoutStore(readoutDirectory(), &worker);
    readouts->setKeep(readoutsToKeep());
    QObject::connect(listener, &Usb::UsbEndPoint::signalAnswer, readouts, &FlashReadoutStore::slotBlock,
                     Qt::QueuedConnection);
    // A lost recorder ends its read-out; what was received stays a ".part" file.
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::deviceIsDisconnected, readouts, &FlashReadoutStore::abandon);
    store = readouts;
}

} // namespace Tavrix::DeviceWebApi
