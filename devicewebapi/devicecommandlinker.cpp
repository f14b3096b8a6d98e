#include "devicewebapi/devicecommandlinker.h"

#include "archive/restingecgarchive.h"
#include "archive/restingecglink.h"
#include "devicewebapi/beatdetectorlink.h"
#include "devicewebapi/flashdatalink.h"
#include "archive/flashreadoutstore.h"
#include "devicewebapi/operationbindings.h"
#include "archive/signalrecorder.h"
#include "devicewebapi/signalrecordinglink.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/complexcommandfactory.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceWebApi {

LinkServices::LinkServices() = default;
LinkServices::~LinkServices() = default;
LinkServices::LinkServices(LinkServices&&) noexcept = default;
LinkServices& LinkServices::operator=(LinkServices&&) noexcept = default;

LinkServices LinkServices::create(Usb::UsbEventLoopWorker& worker)
{
    LinkServices services;
    services.readouts = FlashDataLink::createStore(worker);
    services.recorder = SignalRecordingLink::createRecorder(worker);
    services.beats = std::make_unique<BeatDetectorLink>();
    services.beats->attach(worker.channelsManager());
    services.restingEcg = Archive::RestingEcgLink::createArchive(worker, SignalRecordingLink::recordingsDirectory());
    return services;
}

void DeviceCommandLinker::createLink(Usb::UsbEventLoopWorker& worker,
                                     Net::WebApi::JsonCommandFactory& factory,
                                     const LinkServices& services)
{
    Usb::UsbDeviceManager* const manager = &worker.deviceManager();
    const LinkContext context{&worker,
                              manager,
                              manager->queue(),
                              &worker.dataListener(),
                              worker.channelsManager(),
                              &factory,
                              services.readouts.get(),
                              services.recorder.get(),
                              services.beats.get(),
                              services.restingEcg.get()};
    Usb::ComplexCommandFactory* const operations = manager->complexCommandFactory();
    for (const OperationBinding& row : operationBindings()) {
        if (operations && row.makeCreator)
            operations->add(row.handler, row.makeCreator(context));
        if (row.describe && row.addWebCommand)
            row.addWebCommand(context, row.describe());
    }
}

} // namespace Tavrix::DeviceWebApi
