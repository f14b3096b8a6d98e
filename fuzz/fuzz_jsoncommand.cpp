// The command entry of the web API: a POST /cmd body through the JSON
// request parser, the simple and raw byte commands of the device's
// description and the registered web commands, to the JSON answer.
//
// Input: byte 0 picks the recorder's state (none, plugged but not yet named,
// one of the described types, an undescribed type); the rest is the body.
// Requests that reach the recorder get a plain "done" answer.

#include "recorderharness.h"

#include "common/jsontext.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace FuzzSupport;

namespace {

// Every request is answered once with a whole HTTP message; a 200 carries
// one JSON object with a status.
void checkResponse(const QByteArray& response)
{
    FUZZ_CHECK(response.startsWith("HTTP/1.1 "));
    const int end = response.indexOf("\r\n\r\n");
    FUZZ_CHECK(end > 0);
    if (!response.startsWith("HTTP/1.1 200"))
        return;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(response.mid(end + 4), &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError);
    FUZZ_CHECK(document.isObject());
    const QString status = document.object().value("status").toString();
    FUZZ_CHECK(status == "ok" || status == "error");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::initialize(argc, argv);
    ShippedConfiguration::get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Parking::serve();
    Input input(data, size);
    const uint8_t state = input.byte() % 6;
    const Bytes body = input.rest();

    auto recorder = RecorderPool::take({Usb::UsbDeviceManagerFlags::NoAdcOn});
    switch (state) {
    case 0:
        break;
    case 1:
        recorder->manager()->handleDeviceConnect();
        break;
    case 2:
        recorder->identify(21);
        break;
    case 3:
        recorder->identify(22);
        break;
    case 4:
        recorder->identify(31);
        break;
    default:
        recorder->identify(99);
        break;
    }
    // Identification left nothing in flight except for the unnamed recorder.
    if (state != 1)
        FUZZ_CHECK(!recorder->busy());

    const QByteArray request(reinterpret_cast<const char*>(body.data()), static_cast<int>(body.size()));
    const QByteArray immediate = recorder->post(request);
    // A body naming a member twice is refused before it is parsed.
    if (Common::JsonText::hasRepeatedMember(request))
        FUZZ_CHECK(immediate.startsWith("HTTP/1.1 400"));
    for (int i = 0; i < 32 && recorder->busy(); ++i) {
        const Bytes sent = recorder->request();
        const uint8_t done = 0x00;
        recorder->answer(frame(sent.size() > 3 ? sent[3] : 0, &done, 1));
        QCoreApplication::processEvents();
    }
    recorder->manager()->handleDeviceDisconnect();
    FuzzSupport::processEvents(1);
    if (recorder->response().isEmpty()) { // a write waiting for the recorder to settle
        Parking::park(std::move(recorder), Bytes(data, data + size), checkResponse);
        return 0;
    }
    checkResponse(recorder->response());
    RecorderPool::give(std::move(recorder));
    return 0;
}
