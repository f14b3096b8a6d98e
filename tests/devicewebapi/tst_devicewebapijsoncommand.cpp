// The "cmd" route over real loopback connections, with a device manager fed
// by hand: the test plays the recorder by answering the command in flight.

#include "devicewebapi/devicecommandlinker.h"
#include "devicewebapi/devicewebapijsoncommand.h"
#include "devicecomplexcommands/getpowercommand.h"
#include "devicewebapi/gettimejsoncommand.h"
#include "devicewebapi/operationbindings.h"
#include "net/webapi/exeget.h"
#include "net/webapi/jsoncommandfactory.h"
#include "net/webapi/webapiserver.h"
#include "usb/complexcommandfactory.h"
#include "usb/usbeventloopworker.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace Tavrix;
using namespace Tavrix::Net::WebApi;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes kRtcAnswer{0x7E, 0x06, 0x00, 0x05, 0x56, 0x34, 0x12, 0x29, 0x02, 0x24, 0xFF, 0xFF, 0xBD};
const uint16_t kTestType = 7;
const uint16_t kTypeWithoutClock = 8;

Bytes nameAnswer(uint16_t type)
{
    return {0x7E, 0x0A, 0x00, 0x02, 0x00, 0x00, uint8_t(type & 0xFF), uint8_t(type >> 8),
            0x00, 0x01, 0x03, 0x01, 'F', 'e', 0xFF, 0xFF, 0xBD};
}

DevicesInfo::SimpleCommandInfo simpleCommand(const std::string& name, uint8_t code, bool takesBytes)
{
    DevicesInfo::SimpleCommandInfo info;
    info.name = name;
    info.code = code;
    if (takesBytes) {
        info.data.sourceType = DevicesInfo::ECommandSourceType::DYNAMIC;
        info.data.width = -1;
    }
    return info;
}

std::unordered_map<int, DevicesInfo::DeviceCommonInfo> descriptions()
{
    DevicesInfo::DeviceCommonInfo device;
    device.type = kTestType;
    device.name = "TestRecorder";
    device.simpleCommands = {simpleCommand("ReadRtc", 0x05, false), simpleCommand("Ping", 0x01, true),
                             simpleCommand("ReadBattery", 0x0C, false), DevicesInfo::SimpleCommandInfo::custom()};
    device.complexCommands = {{"GetTime", "", "OrvimGetTime"}, {"GetBattery", "", "OrvimReadBattery"}};

    // Same commands, but its description binds no clock operation.
    DevicesInfo::DeviceCommonInfo withoutClock = device;
    withoutClock.type = kTypeWithoutClock;
    withoutClock.complexCommands.clear();
    return {{kTestType, device}, {kTypeWithoutClock, withoutClock}};
}

// Makes GetTime front ends and remembers the last one, to see it released.
class TrackingGetTimeCreator : public IJsonCommandCreator
{
public:
    explicit TrackingGetTimeCreator(Usb::UsbDeviceManager* manager)
        : m_manager(manager)
    {
    }
    std::shared_ptr<JsonCommand> create() override
    {
        auto command = std::make_shared<DeviceWebApi::GetTimeJsonCommand>(description, m_manager);
        last = command;
        return command;
    }

    std::shared_ptr<JsonCommandDescription> description = DeviceWebApi::GetTimeJsonCommand::createCommandDescription();
    std::weak_ptr<JsonCommand> last;

private:
    Usb::UsbDeviceManager* m_manager;
};

// A web command that shares its name with a simple command of the device.
class PingJsonCommand : public JsonCommand
{
public:
    using JsonCommand::JsonCommand;
    std::shared_ptr<JsonCommandStatus> execute(std::shared_ptr<IJsonCommandInfo> info) override
    {
        ++executions;
        m_uid = info->m_uid;
        emit answerIsReady(this, QJsonDocument(QJsonObject{{"web", true}}), std::make_shared<OkJsonCommandStatus>());
        return std::make_shared<OkJsonCommandStatus>();
    }
    static int executions;
};
int PingJsonCommand::executions = 0;

struct HttpAnswer
{
    QByteArray statusLine;
    QByteArray body;
};

// One raw client connection: writes a POST, collects until the server closes.
class Client
{
public:
    Client() { QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { m_received += m_socket.readAll(); }); }

    bool post(quint16 port, const QByteArray& body)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (!m_socket.waitForConnected(5000))
            return false;
        m_socket.write("POST /cmd HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        return m_socket.flush();
    }

    bool waitClosed(int ms = 5000)
    {
        const bool closed =
            QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, ms);
        m_received += m_socket.readAll();
        return closed;
    }

    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void abort() { m_socket.abort(); }

    HttpAnswer answer() const
    {
        HttpAnswer answer;
        const int lineEnd = m_received.indexOf("\r\n");
        answer.statusLine = m_received.left(lineEnd);
        const int headersEnd = m_received.indexOf("\r\n\r\n");
        if (headersEnd >= 0)
            answer.body = m_received.mid(headersEnd + 4);
        return answer;
    }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

class DeviceWebApiJsonCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        worker = std::make_unique<Usb::UsbEventLoopWorker>(
            (dir.path() + "/ErrorLog.txt").toStdString(), descriptions(), std::vector<Usb::CableTypeInfo>{},
            &complexFactory,
            std::unordered_set<Usb::UsbDeviceManagerFlags>{Usb::UsbDeviceManagerFlags::NoAdcOn,
                                                           Usb::UsbDeviceManagerFlags::NoClockRead});
        services = DeviceWebApi::LinkServices::create(*worker);
        DeviceWebApi::DeviceCommandLinker::createLink(*worker, jsonFactory, services);
        tracking = std::make_shared<TrackingGetTimeCreator>(manager());
        jsonFactory.add(tracking->description, tracking);
        auto pingDescription = std::make_shared<JsonCommandDescription>(
            "Ping", std::make_shared<NamelessEmptyJsonCommandUnit>(), std::make_shared<NamelessEmptyJsonCommandUnit>());
        jsonFactory.add<PingJsonCommand>(pingDescription);
        PingJsonCommand::executions = 0;

        route = new DeviceWebApi::DeviceWebApiJsonCommand(manager(), &jsonFactory);
        postTable.insert("cmd", route);
        server = std::make_unique<WebApiServer>(0, getTable, postTable, nullptr, QHostAddress::LocalHost);
        ASSERT_TRUE(server->isListening());
        QObject::connect(manager(), &Usb::UsbDeviceManager::signalError,
                         [this](std::string type, std::string text) { errors.push_back(type + ": " + text); });
    }

    void TearDown() override
    {
        server.reset();
        delete route;
    }

    Usb::UsbDeviceManager* manager() { return &worker->deviceManager(); }
    quint16 port() const { return server->serverPort(); }

    void identify(uint16_t type = kTestType)
    {
        manager()->handleDeviceConnect();
        answerDevice(nameAnswer(type));
        ASSERT_TRUE(manager()->isIdentified());
    }

    void answerDevice(const Bytes& bytes, int status = 0)
    {
        manager()->queue()->handleCommandAnswerThreadSafe(bytes, status);
    }

    // The recorder answers `bytes`; the body the client got, once it came.
    std::string bodyAfterAnswer(Client& client, const Bytes& bytes)
    {
        answerDevice(bytes);
        EXPECT_TRUE(client.waitClosed());
        return client.answer().body.toStdString();
    }

    std::string inFlight()
    {
        const auto command = manager()->queue()->currentCommand();
        return command ? command->name() : std::string();
    }

    bool waitInFlight(const std::string& name)
    {
        return QTest::qWaitFor([&] { return inFlight() == name; }, 5000);
    }

    // A request whose answer needs no device exchange.
    HttpAnswer request(const QByteArray& body)
    {
        Client client;
        EXPECT_TRUE(client.post(port(), body));
        EXPECT_TRUE(client.waitClosed());
        return client.answer();
    }

    QTemporaryDir dir;
    Usb::ComplexCommandFactory complexFactory;
    JsonCommandFactory jsonFactory;
    std::unique_ptr<Usb::UsbEventLoopWorker> worker;
    DeviceWebApi::LinkServices services;
    std::shared_ptr<TrackingGetTimeCreator> tracking;
    DeviceWebApi::DeviceWebApiJsonCommand* route = nullptr;
    QMap<QString, exeGet*> getTable;
    QMap<QString, exePost*> postTable;
    std::unique_ptr<WebApiServer> server;
    std::vector<std::string> errors;
};

const QByteArray kBadRequest = "HTTP/1.1 400 Bad Request";
const QByteArray kOk = "HTTP/1.1 200 OK";

} // namespace

TEST_F(DeviceWebApiJsonCommandTest, bodiesThatAreNotJsonObjectsAreBadRequests)
{
    identify();
    for (const QByteArray body : {QByteArray("[1,2]"), QByteArray("\"GetTime\""), QByteArray("{\"cmd\":"),
                                  QByteArray("not json"), QByteArray("")}) {
        const HttpAnswer answer = request(body);
        EXPECT_EQ(answer.statusLine, kBadRequest) << body.constData();
        EXPECT_TRUE(answer.body.isEmpty()) << body.constData();
    }
    EXPECT_EQ(inFlight(), "");
}

TEST_F(DeviceWebApiJsonCommandTest, beforeIdentificationEveryCommandIsDeviceDisconnected)
{
    struct Row
    {
        const char* body;
        const char* expected;
        const char* error;
    };
    const Row rows[] = {
        {R"({"cmd":"GetTime","uid":7})", R"({"cmd":"GetTime","errorcode":"DEVICE_DISCONNECTED","status":"error","uid":7})",
         "CommandError: Command \"GetTime\" was not started due to an error: DEVICE_DISCONNECTED"},
        {R"({"cmd":"GetCmdList"})", R"({"cmd":"GetCmdList","errorcode":"DEVICE_DISCONNECTED","status":"error","uid":0})",
         "CommandError: Command \"GetCmdList\" was not started due to an error: DEVICE_DISCONNECTED"},
        {R"({"cmd":"CustomByteCommand","uid":2,"data":["0x01"]})",
         R"({"cmd":"CustomByteCommand","errorcode":"DEVICE_DISCONNECTED","status":"error","uid":2})",
         "CommandError: Command \"CustomByteCommand\" was not started due to an error: DEVICE_DISCONNECTED"},
    };
    for (const bool plugged : {false, true}) {
        // Plugged but not yet named counts as not identified.
        if (plugged)
            manager()->handleDeviceConnect();
        for (const Row& row : rows) {
            errors.clear();
            const HttpAnswer answer = request(row.body);
            EXPECT_EQ(answer.statusLine, kOk);
            EXPECT_EQ(answer.body.toStdString(), row.expected);
            EXPECT_EQ(errors, std::vector<std::string>{row.error});
        }
    }
}

// A recorder of a type without a description has no commands to run.
TEST_F(DeviceWebApiJsonCommandTest, recorderOfAnUndescribedTypeCountsAsDisconnected)
{
    identify(99);
    const HttpAnswer answer = request(R"({"cmd":"ReadRtc","uid":1})");
    EXPECT_EQ(answer.body.toStdString(), R"({"cmd":"ReadRtc","errorcode":"DEVICE_DISCONNECTED","status":"error","uid":1})");
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(inFlight(), "");
}

TEST_F(DeviceWebApiJsonCommandTest, customByteCommandSendsTheBytesAsTheyAreAndAnswersThePayload)
{
    identify();
    Client client;
    ASSERT_TRUE(client.post(
        port(), R"({"cmd":"custombytecommand","uid":3,"data":["0x7e","0x01","0x00","0x0A","0xff","0x12","0x34","0xbd"]})"));
    ASSERT_TRUE(waitInFlight("Custom"));
    EXPECT_EQ(manager()->queue()->currentCommand()->bytes(), (Bytes{0x7E, 0x01, 0x00, 0x0A, 0xFF, 0x12, 0x34, 0xBD}));
    EXPECT_TRUE(client.isOpen());

    answerDevice({0x7E, 0x02, 0x00, 0x0A, 0x0A, 0xFF, 0x12, 0x34, 0xBD});
    ASSERT_TRUE(client.waitClosed());
    EXPECT_EQ(client.answer().statusLine, kOk);
    EXPECT_EQ(client.answer().body.toStdString(), R"({"data":["0x0a","0xff"],"status":"ok","uid":3})");
}

TEST_F(DeviceWebApiJsonCommandTest, customBytesThatAreNotOneWellFormedFrameAreRefusedUnsent)
{
    identify();
    // A start byte with a length the bytes do not hold would leave the
    // recorder waiting for the rest, and every later request would time out.
    auto frameOfLength = [](std::size_t length) {
        QJsonArray bytes{"0x7e", QStringLiteral("0x%1").arg(length & 0xFF, 2, 16, QLatin1Char('0')),
                         QStringLiteral("0x%1").arg(length >> 8, 2, 16, QLatin1Char('0')), "0x01"};
        for (std::size_t i = 0; i < length; ++i)
            bytes.append("0x00");
        for (const char* tail : {"0xff", "0xff", "0xbd"})
            bytes.append(tail);
        return QJsonDocument(QJsonObject{{"cmd", "CustomByteCommand"}, {"uid", 8}, {"data", bytes}}).toJson();
    };
    const QByteArray bodies[] = {
        R"({"cmd":"CustomByteCommand","uid":8,"data":["0x7E","0xFF","0x0F"]})",
        R"({"cmd":"CustomByteCommand","uid":8})",
        R"({"cmd":"CustomByteCommand","uid":8,"data":""})",
        R"({"cmd":"CustomByteCommand","uid":8,"data":["0x01","0x02"]})",
        // Length field one more, then one less, than the data.
        R"({"cmd":"CustomByteCommand","uid":8,"data":["0x7e","0x02","0x00","0x01","0xdd","0xff","0xff","0xbd"]})",
        R"({"cmd":"CustomByteCommand","uid":8,"data":["0x7e","0x00","0x00","0x01","0xdd","0xff","0xff","0xbd"]})",
        // Wrong start or end byte.
        R"({"cmd":"CustomByteCommand","uid":8,"data":["0x7f","0x01","0x00","0x01","0xdd","0xff","0xff","0xbd"]})",
        R"({"cmd":"CustomByteCommand","uid":8,"data":["0x7e","0x01","0x00","0x01","0xdd","0xff","0xff","0xbe"]})",
        // Two frames in one request.
        R"({"cmd":"CustomByteCommand","uid":8,"data":["0x7e","0x00","0x00","0x05","0xff","0xff","0xbd",)"
        R"("0x7e","0x00","0x00","0x05","0xff","0xff","0xbd"]})",
        frameOfLength(DeviceWebApi::DeviceWebApiJsonCommand::maxCustomDataLength + 1),
    };
    for (const QByteArray& body : bodies) {
        const HttpAnswer answer = request(body);
        EXPECT_EQ(answer.statusLine, kOk) << body.left(120).constData();
        // The reason is in "errortext"; the rest is the plain refusal.
        QJsonObject refusal = QJsonDocument::fromJson(answer.body).object();
        EXPECT_TRUE(refusal.take("errortext").toString().startsWith("data: must be exactly one frame"));
        EXPECT_EQ(QJsonDocument(refusal).toJson(QJsonDocument::Compact).toStdString(),
                  R"({"cmd":"CustomByteCommand","errorcode":"BAD_DATA","status":"error","uid":8})")
            << body.left(120).constData();
        EXPECT_EQ(inFlight(), "") << body.left(120).constData();
    }

    // The largest frame allowed, and the smallest, go out as they are.
    for (std::size_t length : {DeviceWebApi::DeviceWebApiJsonCommand::maxCustomDataLength, std::size_t(0)}) {
        Client client;
        ASSERT_TRUE(client.post(port(), frameOfLength(length)));
        ASSERT_TRUE(waitInFlight("Custom"));
        EXPECT_EQ(manager()->queue()->currentCommand()->bytes().size(), length + 7);
        EXPECT_EQ(bodyAfterAnswer(client, {0x7E, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xBD}),
                  R"({"data":[],"status":"ok","uid":8})");
    }
}

TEST_F(DeviceWebApiJsonCommandTest, describedSimpleCommandInAnyLetterCaseKeepsTheClientsName)
{
    identify();
    Client client;
    ASSERT_TRUE(client.post(port(), R"({"cmd":"rEADrTC","uid":11})"));
    ASSERT_TRUE(waitInFlight("rEADrTC"));
    const Bytes sent = manager()->queue()->currentCommand()->bytes();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[0], 0x7E);
    EXPECT_EQ(sent[3], 0x05);

    // A frame without payload answers an empty list.
    EXPECT_EQ(bodyAfterAnswer(client, {0x7E, 0x00, 0x00, 0x05, 0x00, 0x00, 0xBD}),
              R"({"data":[],"status":"ok","uid":11})");
}

TEST_F(DeviceWebApiJsonCommandTest, simpleCommandThatIsAlsoAWebCommandRunsAsSimpleCommand)
{
    identify();
    Client client;
    ASSERT_TRUE(client.post(port(), R"({"cmd":"PING","uid":5,"data":"0x33"})"));
    ASSERT_TRUE(waitInFlight("PING"));
    EXPECT_EQ(manager()->queue()->currentCommand()->bytes()[4], 0x33);
    EXPECT_EQ(bodyAfterAnswer(client, {0x7E, 0x01, 0x00, 0x01, 0x33, 0x00, 0x00, 0xBD}),
              R"({"data":["0x33"],"status":"ok","uid":5})");
    EXPECT_EQ(PingJsonCommand::executions, 0);
}

TEST_F(DeviceWebApiJsonCommandTest, byteDataThatIsNotAListOfByteTextsIsABadRequest)
{
    identify();
    const char* const bodies[] = {
        R"({"cmd":"CustomByteCommand","data":["0x1G"]})", R"({"cmd":"CustomByteCommand","data":["1"]})",
        R"({"cmd":"CustomByteCommand","data":["0x123"]})", R"({"cmd":"CustomByteCommand","data":[1]})",
        R"({"cmd":"CustomByteCommand","data":{"a":"0x01"}})", R"({"cmd":"Ping","data":17})",
        R"({"cmd":"ping","data":["0x01",["0x02"]]})",     R"({"cmd":"Ping","data":true})",
    };
    for (const char* body : bodies) {
        const HttpAnswer answer = request(body);
        EXPECT_EQ(answer.statusLine, kBadRequest) << body;
        EXPECT_TRUE(answer.body.isEmpty()) << body;
    }
    EXPECT_EQ(inFlight(), "");
    EXPECT_TRUE(errors.empty());
}

// An unknown name is told to every event client: it goes there capped and
// with its control characters written out, however long or hostile.
TEST_F(DeviceWebApiJsonCommandTest, anUnknownNameIsPassedOnCappedAndEscaped)
{
    identify();
    const QByteArray longName = "Evil\\u001b]0;X\\u0007" + QByteArray(100000, 'n');
    const HttpAnswer answer = request(R"({"cmd":")" + longName + R"(","uid":5})");
    EXPECT_TRUE(answer.body.contains("NOT_EXIST")) << answer.body.left(200).constData();
    ASSERT_EQ(errors.size(), 1u);
    const std::string& error = errors.front();
    EXPECT_LT(error.size(), 200u) << error.substr(0, 200);
    EXPECT_EQ(error.find('\x1b'), std::string::npos);
    EXPECT_EQ(error.find('\x07'), std::string::npos);
    EXPECT_NE(error.find("Evil\\x1B]0;X\\x07nnn"), std::string::npos) << error;
    // How much was left out is said, so the cut is no silent one.
    EXPECT_NE(error.find("(+"), std::string::npos) << error;
}

TEST_F(DeviceWebApiJsonCommandTest, failuresBeforeStartNameTheCommandAndOnlySomeRaiseAnError)
{
    identify();
    // Unknown everywhere.
    HttpAnswer answer = request(R"({"cmd":"NoSuchCommand","uid":4})");
    EXPECT_EQ(answer.body.toStdString(), R"({"cmd":"NoSuchCommand","errorcode":"NOT_EXIST","status":"error","uid":4})");
    EXPECT_EQ(errors, std::vector<std::string>{
                          "CommandError: Command \"NoSuchCommand\" was not started due to an error: NOT_EXIST"});

    // A described command that takes no bytes, given some: cannot be encoded.
    errors.clear();
    answer = request(R"({"cmd":"ReadRtc","uid":6,"data":["0x01"]})");
    EXPECT_EQ(answer.body.toStdString(), R"({"cmd":"ReadRtc","errorcode":"BAD_DATA","status":"error","uid":6})");
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(inFlight(), "");
}

TEST_F(DeviceWebApiJsonCommandTest, uidIsZeroWhenMissingOrNotANumber)
{
    identify();
    for (const char* body : {R"({"cmd":"nothing"})", R"({"cmd":"nothing","uid":"12"})",
                             R"({"cmd":"nothing","uid":-3})", R"({"cmd":"nothing","uid":null})"}) {
        EXPECT_EQ(request(body).body.toStdString(),
                  R"({"cmd":"nothing","errorcode":"NOT_EXIST","status":"error","uid":0})")
            << body;
    }
    EXPECT_EQ(request(R"({"cmd":"nothing","uid":4294967295})").body.toStdString(),
              R"({"cmd":"nothing","errorcode":"NOT_EXIST","status":"error","uid":4294967295})");
}

TEST_F(DeviceWebApiJsonCommandTest, failedByteCommandAnswersItsStatusName)
{
    identify();
    Client timedOut;
    ASSERT_TRUE(timedOut.post(port(), R"({"cmd":"ReadRtc","uid":21})"));
    ASSERT_TRUE(waitInFlight("ReadRtc"));
    answerDevice({}, Usb::DeviceCommand::TIMEOUT);
    ASSERT_TRUE(timedOut.waitClosed());
    EXPECT_EQ(timedOut.answer().body.toStdString(), R"({"errorcode":"TIMEOUT","status":"error","uid":21})");

    Client unplugged;
    ASSERT_TRUE(unplugged.post(port(), R"({"cmd":"ReadRtc","uid":22})"));
    ASSERT_TRUE(waitInFlight("ReadRtc"));
    manager()->handleDeviceDisconnect();
    ASSERT_TRUE(unplugged.waitClosed());
    EXPECT_EQ(unplugged.answer().body.toStdString(),
              R"({"errorcode":"DEVICE_DISCONNECTED","status":"error","uid":22})");
}

TEST_F(DeviceWebApiJsonCommandTest, getTimeAnswersTheDeviceClock)
{
    identify();
    Client client;
    ASSERT_TRUE(client.post(port(), R"({"cmd":"gettime","uid":9})"));
    ASSERT_TRUE(waitInFlight("ReadRtc"));
    answerDevice(kRtcAnswer);
    ASSERT_TRUE(client.waitClosed());
    EXPECT_EQ(client.answer().statusLine, kOk);
    EXPECT_EQ(client.answer().body.toStdString(),
              R"({"data":{"Day":29,"Hours":12,"Minutes":34,"Month":2,"Seconds":56,"Year":2024},"status":"ok","uid":9})");
    EXPECT_TRUE(QTest::qWaitFor([this] { return tracking->last.expired(); }, 2000));
}

TEST_F(DeviceWebApiJsonCommandTest, getTimeWithAMalformedClockAnswerFailsAfterStart)
{
    identify();
    Client client;
    ASSERT_TRUE(client.post(port(), R"({"cmd":"GetTime","uid":10})"));
    ASSERT_TRUE(waitInFlight("ReadRtc"));
    EXPECT_EQ(bodyAfterAnswer(client, {0x7E, 0x01, 0x00, 0x05, 0x00, 0xFF, 0xFF, 0xBD}),
              R"({"errorcode":"WRONG_FRAME_FORMAT","status":"error","uid":10})");
}

// A read added as one binding row, with the generic front end and Orvim
// operation: the request it sends, and the answers it accepts and refuses.
TEST_F(DeviceWebApiJsonCommandTest, valueReadRowIsAWholeWebCommand)
{
    const auto row = DeviceWebApi::valueRead<DeviceComplexCommands::GetPowerCommand, uint16_t>(
        "GetBattery", "Battery", EJsonUnitType::Int, "OrvimReadBattery",
        {"ReadBattery", 9, &DeviceComplexCommands::firstU16});
    const DeviceWebApi::LinkContext context{worker.get(), manager(), manager()->queue(), nullptr,
                                            nullptr,      &jsonFactory, nullptr,          nullptr};
    complexFactory.add(row.handler, row.makeCreator(context));
    row.addWebCommand(context, row.describe());
    EXPECT_EQ(row.simpleCommands, std::vector<std::string>{"ReadBattery"});
    identify();

    struct Case
    {
        const char* label;
        Bytes answer;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"value", {0x7E, 0x02, 0x00, 0x0C, 0x6E, 0x0F, 0xFF, 0xFF, 0xBD},
         R"({"data":{"Battery":3950},"status":"ok","uid":5})"},
        {"short", {0x7E, 0x01, 0x00, 0x0C, 0x6E, 0xFF, 0xFF, 0xBD},
         R"({"errorcode":"WRONG_FRAME_FORMAT","status":"error","uid":5})"},
        {"long", {0x7E, 0x03, 0x00, 0x0C, 0x6E, 0x0F, 0x00, 0xFF, 0xFF, 0xBD},
         R"({"errorcode":"WRONG_FRAME_FORMAT","status":"error","uid":5})"},
        {"refused", {0x7E, 0x02, 0x00, 0xEE, 0x0C, 0x03, 0xFF, 0xFF, 0xBD},
         R"({"errorcode":"WRONG_FRAME_FORMAT","status":"error","uid":5})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Client client;
        ASSERT_TRUE(client.post(port(), R"({"cmd":"GetBattery","uid":5})"));
        ASSERT_TRUE(waitInFlight("ReadBattery"));
        EXPECT_EQ(manager()->queue()->currentCommand()->bytes(), (Bytes{0x7E, 0x00, 0x00, 0x0C, 0xFF, 0xFF, 0xBD}));
        EXPECT_EQ(bodyAfterAnswer(client, c.answer), c.body);
    }

    const auto listed = request(R"({"cmd":"GetCmdList","uid":1})").body;
    EXPECT_TRUE(listed.contains(R"("GetBattery")")) << listed.toStdString();
}

// The operation cannot be created for this device: nothing is sent, the
// client hears NOT_EXIST as the outcome.
TEST_F(DeviceWebApiJsonCommandTest, getTimeOnADeviceWithoutTheOperationAnswersNotExist)
{
    identify(kTypeWithoutClock);
    const HttpAnswer answer = request(R"({"cmd":"GetTime","uid":12})");
    EXPECT_EQ(answer.body.toStdString(), R"({"errorcode":"NOT_EXIST","status":"error","uid":12})");
    EXPECT_EQ(inFlight(), "");
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor([this] { return tracking->last.expired(); }, 2000));
}

TEST_F(DeviceWebApiJsonCommandTest, twoRequestsInFlightAreEachAnsweredOnTheirOwnConnection)
{
    identify();
    Client first;
    Client second;
    ASSERT_TRUE(first.post(port(), R"({"cmd":"GetTime","uid":1})"));
    ASSERT_TRUE(waitInFlight("ReadRtc"));
    ASSERT_TRUE(second.post(port(), R"({"cmd":"Ping","uid":2,"data":["0x44"]})"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return manager()->queue()->waitingCount() == 1; }, 5000));

    answerDevice(kRtcAnswer);
    ASSERT_TRUE(first.waitClosed());
    EXPECT_TRUE(first.answer().body.startsWith(R"({"data":{"Day":29,)"));
    EXPECT_TRUE(first.answer().body.endsWith(R"("uid":1})"));
    ASSERT_TRUE(waitInFlight("Ping"));
    EXPECT_TRUE(second.isOpen());

    answerDevice({0x7E, 0x01, 0x00, 0x01, 0x44, 0x00, 0x00, 0xBD});
    ASSERT_TRUE(second.waitClosed());
    EXPECT_EQ(second.answer().body.toStdString(), R"({"data":["0x44"],"status":"ok","uid":2})");
}

TEST_F(DeviceWebApiJsonCommandTest, clientLeavingBeforeItsAnswerReleasesTheCommand)
{
    identify();
    {
        Client leaving;
        ASSERT_TRUE(leaving.post(port(), R"({"cmd":"GetTime","uid":1})"));
        ASSERT_TRUE(waitInFlight("ReadRtc"));
        ASSERT_FALSE(tracking->last.expired());
        leaving.abort();
    }
    QTest::qWait(50); // the server notices the closed connection
    answerDevice(kRtcAnswer);
    EXPECT_TRUE(QTest::qWaitFor([this] { return tracking->last.expired(); }, 2000));

    {
        Client leaving;
        ASSERT_TRUE(leaving.post(port(), R"({"cmd":"ReadRtc","uid":2})"));
        ASSERT_TRUE(waitInFlight("ReadRtc"));
        leaving.abort();
    }
    QTest::qWait(50);
    answerDevice(kRtcAnswer);
    EXPECT_EQ(inFlight(), "");

    // The service goes on answering.
    Client next;
    ASSERT_TRUE(next.post(port(), R"({"cmd":"GetTime","uid":3})"));
    ASSERT_TRUE(waitInFlight("ReadRtc"));
    answerDevice(kRtcAnswer);
    ASSERT_TRUE(next.waitClosed());
    EXPECT_TRUE(next.answer().body.endsWith(R"("status":"ok","uid":3})"));
}

TEST_F(DeviceWebApiJsonCommandTest, commandListAnswersOneDescriptionPerRegisteredCommand)
{
    identify();
    const HttpAnswer answer = request(R"({"cmd":"getcmdlist","uid":8})");
    ASSERT_EQ(answer.statusLine, kOk);
    const QJsonObject envelope = QJsonDocument::fromJson(answer.body).object();
    EXPECT_EQ(envelope.value("status").toString(), "ok");
    EXPECT_EQ(envelope.value("uid").toInt(), 8);
    const QJsonArray list = envelope.value("data").toArray();
    ASSERT_EQ(static_cast<size_t>(list.size()), jsonFactory.size());

    QSet<QString> listed;
    for (const QJsonValue& entry : list) {
        const QJsonObject description = entry.toObject();
        EXPECT_EQ(description.keys(), (QStringList{"answer", "cmd", "data"}));
        listed.insert(description.value("cmd").toString());
    }
    QSet<QString> registered;
    for (const auto& item : jsonFactory)
        registered.insert(QString::fromStdString(item.first));
    EXPECT_EQ(listed, registered);
    EXPECT_TRUE(registered.contains("GetCmdList"));
    EXPECT_TRUE(registered.contains("GetTime"));
}
