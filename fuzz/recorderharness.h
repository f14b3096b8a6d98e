#pragma once

// The service's command side with no recorder attached: the USB worker (never
// started, so no thread and no libusb), its device manager and byte command
// queue, every device operation and web command registered as at start-up,
// and the "cmd" route. Requests go to the queue; the fuzzer plays the
// recorder by answering whatever is in flight.

#include "fuzzsupport.h"

#include "devicesinfo/deviceinfojsonparser.h"
#include "devicewebapi/devicecommandlinker.h"
#include "devicewebapi/devicewebapijsoncommand.h"
#include "net/webapi/jsoncommandfactory.h"
#include "net/webapi/parsinguri.h"
#include "usb/cabletypeinfojsonparser.h"
#include "usb/complexcommandfactory.h"
#include "usb/usbeventloopworker.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace FuzzSupport {

using namespace Tavrix;

// The shipped descriptions and cable table, read once per process.
struct ShippedConfiguration
{
    DevicesInfo::DeviceInfoMap devices;
    std::vector<Usb::CableTypeInfo> cables;
    QTemporaryDir logDir;

    static const ShippedConfiguration& get()
    {
        static const ShippedConfiguration configuration;
        return configuration;
    }

private:
    ShippedConfiguration()
    {
        const QDir config(QStringLiteral(DASTEL_CONFIG_DIR));
        FUZZ_CHECK(DevicesInfo::DeviceInfoJsonParser::parseDevicesInfo(
            config.filePath("Devices"), config.filePath("DeviceCommands"),
            config.filePath("ComplexCommandHandlers"), devices));
        QFile file(config.filePath("Cables.json"));
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        FUZZ_CHECK(Usb::CableTypeInfoJsonParser::parseCables(file.readAll(), cables));
        FUZZ_CHECK(logDir.isValid());
    }
};

// The recorder's name answer for a device type.
inline Bytes nameAnswer(uint16_t type)
{
    const uint8_t data[] = {0x00, 0x00, uint8_t(type & 0xFF), uint8_t(type >> 8), 0x00, 0x01, 0x03, 0x01, 'F', 'e'};
    return frame(0x02, data, sizeof data);
}

inline Bytes clockAnswer()
{
    const uint8_t data[] = {0x56, 0x34, 0x12, 0x29, 0x02, 0x24};
    return frame(0x05, data, sizeof data);
}

class Recorder
{
public:
    explicit Recorder(const std::unordered_set<Usb::UsbDeviceManagerFlags>& flags = {})
    {
        const ShippedConfiguration& configuration = ShippedConfiguration::get();
        m_worker = std::make_unique<Usb::UsbEventLoopWorker>(
            (configuration.logDir.path() + "/ErrorLog.txt").toStdString(),
            std::unordered_map<int, DevicesInfo::DeviceCommonInfo>(configuration.devices.begin(),
                                                                   configuration.devices.end()),
            configuration.cables, &m_operations, flags);
        // The error log's lines are still made; only their file, opened and
        // closed for every line, is left out: it is the same disk work for
        // every input and would be most of one.
        manager()->setErrorLog(nullptr);
        m_services = DeviceWebApi::LinkServices::create(*m_worker);
        DeviceWebApi::DeviceCommandLinker::createLink(*m_worker, m_webCommands, m_services);
        m_route = std::make_unique<DeviceWebApi::DeviceWebApiJsonCommand>(manager(), &m_webCommands);
    }

    ~Recorder()
    {
        // Whatever is still running ends the way it does when the cable is pulled.
        manager()->handleDeviceDisconnect();
        flushDeferredDeletes();
        m_route.reset();
        m_services = DeviceWebApi::LinkServices();
        m_worker.reset();
        flushDeferredDeletes();
    }

    // Back to the state of a new recorder between two inputs: unplugged, with
    // whatever that ends delivered and no response kept.
    void reset()
    {
        manager()->handleDeviceDisconnect();
        processEvents(1);
        m_route->response()->clear();
    }

    Usb::UsbDeviceManager* manager() { return &m_worker->deviceManager(); }
    Usb::ComplexCommandFactory& operations() { return m_operations; }
    Net::WebApi::JsonCommandFactory& webCommands() { return m_webCommands; }

    bool busy() { return static_cast<bool>(manager()->queue()->currentCommand()); }
    // The request in flight, as written to the command endpoint.
    Bytes request()
    {
        const auto command = manager()->queue()->currentCommand();
        return command ? command->bytes() : Bytes();
    }
    void answer(const Bytes& bytes, int32_t status = 0)
    {
        manager()->queue()->handleCommandAnswerThreadSafe(bytes, status);
    }

    // Connects and answers the identification like a recorder of `type`;
    // the requests that follow it (clock, ADC on) get plain answers.
    bool identify(uint16_t type)
    {
        manager()->handleDeviceConnect();
        answer(nameAnswer(type));
        for (int i = 0; i < 8 && busy(); ++i) {
            const Bytes sent = request();
            if (sent.size() > 3 && sent[3] == 0x05) {
                answer(clockAnswer());
            } else {
                const uint8_t ok = 0x00;
                answer(frame(sent.size() > 3 ? sent[3] : 0, &ok, 1));
            }
        }
        return manager()->isIdentified();
    }

    // Answers whatever is in flight from the input until the queue is idle,
    // the input ends or `maxAnswers` answers went out. Per answer, a head byte:
    //   0xFF        the request times out
    //   0xFE s      the exchange fails with status s
    //   0x80 | n    a frame with the request's code around the next n bytes
    //   n           the next n bytes as they are
    void answerFrom(Input& input, int maxAnswers)
    {
        for (int i = 0; i < maxAnswers && !input.empty(); ++i) {
            if (!busy()) {
                // An operation may continue from a queued signal or timer.
                QCoreApplication::processEvents();
                if (!busy())
                    return;
            }
            const uint8_t head = input.byte();
            if (head == 0xFF) {
                manager()->queue()->handleCommandTimeout();
            } else if (head == 0xFE) {
                answer({}, input.byte() % 8);
            } else if (head & 0x80) {
                const Bytes sent = request();
                const Bytes payload = input.take(head & 0x7F);
                answer(frame(sent.size() > 3 ? sent[3] : 0, payload.data(), payload.size()));
            } else {
                answer(input.take(head));
            }
        }
    }

    // POSTs the body to "cmd" and returns the response built so far (a
    // command answered later replaces it). No socket: the answer stays in the
    // route's response.
    QByteArray post(const QByteArray& body)
    {
        m_route->response()->clear();
        Net::WebApi::ParsingURI uri;
        uri.exe(QStringLiteral("/cmd"));
        QByteArray bytes = body;
        m_route->exe(uri, bytes, nullptr);
        return m_route->response()->m_raw;
    }
    QByteArray response() const { return m_route->response()->m_raw; }

private:
    Usb::ComplexCommandFactory m_operations;
    Net::WebApi::JsonCommandFactory m_webCommands;
    std::unique_ptr<Usb::UsbEventLoopWorker> m_worker;
    DeviceWebApi::LinkServices m_services;
    std::unique_ptr<DeviceWebApi::DeviceWebApiJsonCommand> m_route;
};

// Built once and handed from input to input: a recorder costs far more to
// build (the USB worker with its buffers and error log, every operation and
// web command registered) than one input costs to run, and the registrations
// are the same for every input. An input takes one, and gives it back once
// its request was answered; reset() unplugs it, as each input starts.
class RecorderPool
{
public:
    using Flags = std::unordered_set<Usb::UsbDeviceManagerFlags>;

    // One set of flags per process (each target uses one).
    static std::unique_ptr<Recorder> take(const Flags& flags = {})
    {
        RecorderPool& self = instance();
        if (self.m_free.empty())
            return std::make_unique<Recorder>(flags);
        std::unique_ptr<Recorder> recorder = std::move(self.m_free.back());
        self.m_free.pop_back();
        return recorder;
    }

    static void give(std::unique_ptr<Recorder> recorder)
    {
        recorder->reset();
        instance().m_free.push_back(std::move(recorder));
    }

private:
    // Never destroyed, like Parking's recorders.
    static RecorderPool& instance()
    {
        static RecorderPool* const pool = new RecorderPool;
        return *pool;
    }

    std::vector<std::unique_ptr<Recorder>> m_free;
};

// Recorders whose request is still unanswered when their input ends: a write
// that lets the recorder settle answers from a timer seconds later. They are
// kept, and their timers served while later inputs run, until the answer
// comes; only then are they given back to the pool. A request left
// unanswered for much longer than any such wait is a finding, reported with
// the input that started it.
class Parking
{
public:
    using Check = std::function<void(const QByteArray& response)>;

    static void park(std::unique_ptr<Recorder> recorder, Bytes input, Check check)
    {
        Parking& self = instance();
        self.m_parked.push_back({std::move(recorder), std::move(input), std::move(check), QDeadlineTimer(giveUpMs)});
        // Bounded: wait for the oldest rather than pile up recorders.
        while (self.m_parked.size() > maxParked) {
            QThread::msleep(5);
            serve();
        }
    }

    static void serve()
    {
        Parking& self = instance();
        if (self.m_parked.empty())
            return;
        QCoreApplication::processEvents();
        flushDeferredDeletes();
        for (auto it = self.m_parked.begin(); it != self.m_parked.end();) {
            const QByteArray response = it->recorder->response();
            if (!response.isEmpty()) {
                it->check(response);
                RecorderPool::give(std::move(it->recorder));
                it = self.m_parked.erase(it);
                continue;
            }
            if (it->deadline.hasExpired()) {
                std::fprintf(stderr, "request never answered; input (hex):");
                for (const uint8_t byte : it->input)
                    std::fprintf(stderr, "%02x", byte);
                std::fprintf(stderr, "\n");
                FUZZ_CHECK(!"request answered");
            }
            ++it;
        }
        flushDeferredDeletes();
    }

private:
    static constexpr int giveUpMs = 8000;
    static constexpr std::size_t maxParked = 64;

    struct Parked
    {
        std::unique_ptr<Recorder> recorder;
        Bytes input;
        Check check;
        QDeadlineTimer deadline;
    };

    // Never destroyed: what is still parked at exit stays reachable rather
    // than being torn down half-way and reported as leaked.
    static Parking& instance()
    {
        static Parking* const parking = new Parking;
        return *parking;
    }

    std::deque<Parked> m_parked;
};

} // namespace FuzzSupport
