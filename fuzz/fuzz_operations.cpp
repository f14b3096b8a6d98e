// The device operations' handling of the recorder's answers. An operation is
// started either as the web client starts it (a web command with its JSON
// data) or directly by its handler name; then every request it sends is
// answered from the input, frames and failures alike, until it has finished.
//
// Input: byte 0 is the length n of the name that follows, "web:<command>"
// or "op:<handler>", which picks the operation, so that a saved seed keeps
// its target however many operations there are (a name that names nothing
// is mapped onto the list by its bytes, for the mutated ones); then one
// byte for the recorder's type (Ferrow 8, Ferrow 8 AD, Kardio 12); for a web
// command, one byte for the length m of the JSON data that follows; then
// the answers (see Recorder::answerFrom). With byte 0 = 0xFF the
// identification itself is answered from the input.

#include "recorderharness.h"

#include "common/jsontext.h"
#include "usb/complexcommand.h"
#include "usb/complexcommandcreatedata.h"
#include "usb/icomplexcommandcreator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <functional>

using namespace FuzzSupport;

namespace {

constexpr int maxAnswers = 400;

std::vector<std::string> sortedNames(const Recorder& recorder, bool web)
{
    std::vector<std::string> names;
    auto& self = const_cast<Recorder&>(recorder);
    if (web) {
        for (const auto& entry : self.webCommands().items())
            names.push_back(entry.first);
    } else {
        for (const auto& entry : self.operations().creators())
            names.push_back(entry.first);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Names
{
    std::vector<std::string> web;
    std::vector<std::string> handlers;
};

const Names& names()
{
    static const Names all = [] {
        Recorder recorder;
        return Names{sortedNames(recorder, true), sortedNames(recorder, false)};
    }();
    return all;
}

// Every answer is one whole HTTP message.
void checkResponse(const QByteArray& response)
{
    FUZZ_CHECK(response.startsWith("HTTP/1.1 ") && response.contains("\r\n\r\n"));
}

// True when the request was answered by the time the input ran out.
bool runWebCommand(Recorder& recorder, const std::string& name, Input& input)
{
    const Bytes dataText = input.take(input.byte());
    QJsonObject request{{"cmd", QString::fromStdString(name)}, {"uid", 7}};
    const QByteArray text(reinterpret_cast<const char*>(dataText.data()), static_cast<int>(dataText.size()));
    // Parsed here, before the route's own guard: Qt's parser would leak.
    const QJsonDocument data =
        Common::JsonText::hasRepeatedMember(text) ? QJsonDocument() : QJsonDocument::fromJson(text);
    if (data.isObject())
        request.insert("data", data.object());
    else if (data.isArray())
        request.insert("data", data.array());
    else if (!dataText.empty())
        request.insert("data", QString::fromLatin1(reinterpret_cast<const char*>(dataText.data()),
                                                   static_cast<int>(dataText.size())));
    recorder.post(QJsonDocument(request).toJson(QJsonDocument::Compact));
    recorder.answerFrom(input, maxAnswers);
    recorder.manager()->handleDeviceDisconnect();
    FuzzSupport::processEvents(1);
    const QByteArray response = recorder.response();
    if (response.isEmpty())
        return false; // a write waiting for the recorder to settle
    checkResponse(response);
    return true;
}

void runOperation(Recorder& recorder, const std::string& handler, Input& input)
{
    const auto creator = recorder.operations().find(handler);
    if (!creator)
        return;
    // Operations whose creators want more than a uid refuse this and are
    // reached through their web commands instead.
    const std::shared_ptr<Usb::ComplexCommand> command =
        creator->create(std::make_shared<Usb::ComplexCommandCreateData<unsigned>>(7u));
    if (!command)
        return;
    const auto status = command->execute();
    if (!status || status->status != Usb::DeviceCommand::OK)
        return;
    recorder.answerFrom(input, maxAnswers);
    recorder.manager()->handleDeviceDisconnect();
    FuzzSupport::processEvents(1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::initialize(argc, argv);
    ShippedConfiguration::get();
    // DASTEL_FUZZ_LIST=1: the names a seed may start with.
    if (qEnvironmentVariableIsSet("DASTEL_FUZZ_LIST")) {
        for (const std::string& name : names().web)
            std::fprintf(stderr, "web:%s\n", name.c_str());
        for (const std::string& name : names().handlers)
            std::fprintf(stderr, "op:%s\n", name.c_str());
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Parking::serve();
    Input input(data, size);
    const uint8_t pick = input.byte();
    auto recorder = RecorderPool::take();

    if (pick == 0xFF) {
        // Identification from the recorder's own answers.
        recorder->manager()->handleDeviceConnect();
        recorder->answerFrom(input, 16);
        RecorderPool::give(std::move(recorder));
        return 0;
    }

    const Bytes nameBytes = input.take(pick);
    const std::string name(nameBytes.begin(), nameBytes.end());
    const uint8_t type = input.byte() % 3;
    recorder->identify(type == 0 ? 21 : type == 1 ? 22 : 31);
    const Names& all = names();
    const std::string web = name.rfind("web:", 0) == 0 ? name.substr(4) : std::string();
    const std::string handler = name.rfind("op:", 0) == 0 ? name.substr(3) : std::string();
    std::size_t index = all.web.size() + all.handlers.size();
    if (const auto w = std::find(all.web.begin(), all.web.end(), web); !web.empty() && w != all.web.end())
        index = std::size_t(w - all.web.begin());
    else if (const auto h = std::find(all.handlers.begin(), all.handlers.end(), handler);
             !handler.empty() && h != all.handlers.end())
        index = all.web.size() + std::size_t(h - all.handlers.begin());
    else
        index = std::size_t(std::hash<std::string>()(name) % index);
    if (index >= all.web.size()) {
        runOperation(*recorder, all.handlers[index - all.web.size()], input);
        RecorderPool::give(std::move(recorder));
        return 0;
    }
    if (!runWebCommand(*recorder, all.web[index], input)) {
        Parking::park(std::move(recorder), Bytes(data, data + size), checkResponse);
        return 0;
    }
    RecorderPool::give(std::move(recorder));
    return 0;
}
