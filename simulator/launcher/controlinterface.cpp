#include "controlinterface.h"

#include "ecgrecordplayer.h"
#include "recordermodel.h"
#include "valuetext.h"
#include "virtualrecorder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace Tavrix::Simulator {
namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Fault kinds are accepted as "delay-answer", "delay_answer" or "DelayAnswer".
std::string normalisedKind(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (c != '-' && c != '_')
            out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool parseInt(const std::string& text, long min, long max, long& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    value = v;
    return true;
}

std::string failure(const std::string& message)
{
    return "{\"ok\":false,\"error\":" + ValueText::jsonString(message) + "}";
}

} // namespace

ControlInterface::ControlInterface(RecorderModel& model, VirtualUsbRecorder& usb)
    : m_model(model)
    , m_usb(usb)
{
}

std::string ControlInterface::handleLine(const std::string& rawLine)
{
    const std::string line = trimmed(rawLine);
    std::istringstream in(line);
    std::string word;
    in >> word;
    word = lowered(word);
    std::string rest;
    std::getline(in, rest);
    rest = trimmed(rest);

    if (word.empty())
        return failure("empty request");
    if (word == "ping")
        return "{\"ok\":true}";
    if (word == "state")
        return "{\"ok\":true,\"usb\":" + m_usb.stateJson() + ",\"model\":" + m_model.stateJson() + "}";
    if (word == "plug" || word == "unplug") {
        if (!rest.empty())
            return failure(word + " takes no argument");
        std::string error;
        const bool ok = word == "plug" ? m_usb.plug(&error) : m_usb.unplug(&error);
        if (!ok)
            return failure(error);
        const UsbAttachmentState s = m_usb.state();
        return "{\"ok\":true,\"plugged\":" + std::string(s.plugged ? "true" : "false") +
               ",\"address\":" + std::to_string(s.deviceAddress) + "}";
    }
    if (word == "cable") {
        const std::string arg = lowered(rest);
        if (arg != "on" && arg != "off")
            return failure("usage: cable on|off");
        m_model.setCablePresent(arg == "on");
        m_usb.wake();
        return "{\"ok\":true}";
    }
    if (word == "button") {
        if (!rest.empty())
            return failure("button takes no argument");
        m_model.pressButton();
        m_usb.wake();
        return "{\"ok\":true}";
    }
    if (word == "mark") {
        if (!rest.empty())
            return failure("mark takes no argument");
        m_model.markFrame();
        m_usb.wake();
        return "{\"ok\":true}";
    }
    if (word == "fault")
        return handleFault(rest);
    if (word == "ecg-record")
        return handleEcgRecord(rest);
    if (word == "clear-faults") {
        m_model.clearFaults();
        m_usb.wake();
        return "{\"ok\":true}";
    }
    if (word == "set") {
        std::istringstream args(rest);
        std::string key;
        args >> key;
        std::string value;
        std::getline(args, value);
        value = trimmed(value);
        if (key.empty())
            return failure("usage: set <key> <value>");
        if (!m_model.setValue(key, value))
            return failure("unknown key or bad value: " + key);
        m_usb.wake();
        return "{\"ok\":true}";
    }
    return failure("unknown request \"" + word + "\"");
}

std::string ControlInterface::handleEcgRecord(const std::string& arguments)
{
    static const char* usageText = "usage: ecg-record PATH|synthetic [once] [offset=SECONDS]";
    std::istringstream in(arguments);
    std::string path;
    in >> path;
    if (path.empty())
        return failure(usageText);
    bool once = false;
    double offset = 0.0;
    std::string option;
    while (in >> option) {
        if (lowered(option) == "once") {
            once = true;
        } else if (lowered(option).rfind("offset=", 0) == 0) {
            const std::string text = option.substr(7);
            char* end = nullptr;
            errno = 0;
            offset = std::strtod(text.c_str(), &end);
            if (text.empty() || errno || *end || !(offset >= 0.0) || offset > 1e7)
                return failure("offset must be a number of seconds >= 0");
        } else {
            return failure(usageText);
        }
    }
    if (lowered(path) == "synthetic") {
        const uint16_t frame = m_model.playEcgRecord(nullptr);
        m_usb.wake();
        return "{\"ok\":true,\"record\":\"synthetic\",\"frame\":" + std::to_string(frame) + "}";
    }
    auto record = std::make_shared<EcgRecordPlayer>();
    std::string error;
    if (!record->load(path, error))
        return failure(error); // the record playing goes on
    record->setLoop(!once);
    std::string missing;
    for (const std::string& lead : record->missingLeads())
        missing += (missing.empty() ? "" : ",") + ValueText::jsonString(lead);
    if (!missing.empty())
        std::fprintf(stderr, "dastel-sim: record %s lacks leads [%s]; their channels stay at 0\n", path.c_str(),
                     missing.c_str());
    const uint16_t frame = m_model.playEcgRecord(record, offset);
    m_usb.wake();
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", record->samplingFrequency());
    return "{\"ok\":true,\"record\":" + ValueText::jsonString(path) + ",\"frame\":" + std::to_string(frame) +
           ",\"samplingFrequency\":" + rate + ",\"samples\":" + std::to_string(record->sampleCount()) +
           ",\"missingLeads\":[" + missing + "]}";
}

std::string ControlInterface::handleFault(const std::string& arguments)
{
    static const struct {
        const char* name;
        FaultKind kind;
        Endpoint defaultEndpoint;
    } kinds[] = {
        {"noanswer", FaultKind::NoAnswer, Endpoint::Answer},
        {"delayanswer", FaultKind::DelayAnswer, Endpoint::Answer},
        {"wronglength", FaultKind::WrongLength, Endpoint::Answer},
        {"garbage", FaultKind::Garbage, Endpoint::Answer},
        {"splitframe", FaultKind::SplitFrame, Endpoint::Answer},
        {"stall", FaultKind::Stall, Endpoint::Answer},
        {"lateanswer", FaultKind::DelayAnswer, Endpoint::Answer},
        {"answeratcancel", FaultKind::AnswerAtCancel, Endpoint::Answer},
    };
    std::istringstream in(arguments);
    std::string kindText;
    in >> kindText;
    FaultSpec fault;
    bool known = false;
    for (const auto& k : kinds) {
        if (normalisedKind(kindText) == k.name) {
            fault.kind = k.kind;
            fault.endpoint = k.defaultEndpoint;
            // A late answer comes after the service's 1000 ms time-out.
            if (normalisedKind(kindText) == "lateanswer")
                fault.delayMs = 1500;
            known = true;
        }
    }
    if (!known)
        return failure("usage: fault no-answer|delay-answer|late-answer|answer-at-cancel|wrong-length|garbage|"
                       "split-frame|stall "
                       "[endpoint=0x85] [count=N] [delay=MS] [garbage=N] [chunk=N]");
    std::string option;
    while (in >> option) {
        const auto eq = option.find('=');
        const std::string name = lowered(option.substr(0, eq));
        const std::string valueText = eq == std::string::npos ? std::string() : option.substr(eq + 1);
        long value = 0;
        if (name == "endpoint" || name == "ep") {
            if (!parseInt(valueText, 0, 0xFF, value) ||
                (value != 0x04 && value != 0x83 && value != 0x85 && value != 0x86))
                return failure("endpoint must be 0x04, 0x83, 0x85 or 0x86");
            fault.endpoint = Endpoint(uint8_t(value));
        } else if (name == "count") {
            if (!parseInt(valueText, 1, 1000000, value))
                return failure("count must be 1..1000000");
            fault.count = int(value);
        } else if (name == "delay") {
            if (!parseInt(valueText, 0, 600000, value))
                return failure("delay must be 0..600000 ms");
            fault.delayMs = int(value);
        } else if (name == "garbage") {
            if (!parseInt(valueText, 1, 4096, value))
                return failure("garbage must be 1..4096 bytes");
            fault.garbageBytes = int(value);
        } else if (name == "chunk") {
            if (!parseInt(valueText, 1, 4096, value))
                return failure("chunk must be 1..4096 bytes");
            fault.splitChunk = int(value);
        } else {
            return failure("unknown fault option \"" + name + "\"");
        }
    }
    m_model.injectFault(fault);
    m_usb.wake();
    return "{\"ok\":true}";
}

} // namespace Tavrix::Simulator
