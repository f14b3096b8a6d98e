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
    QObject::connect(listener, &Usb::UsbEndPoint::signalAnswer, readouts, &FlashReadoutStore::slotBlock,
                     Qt::QueuedConnection);
    // A lost recorder ends its read-out; what was received stays a ".part" file.
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::deviceIsDisconnected, readouts, &FlashReadoutStore::abandon);
    store = readouts;
}

} // namespace Tavrix::DeviceWebApi
