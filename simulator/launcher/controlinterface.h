#pragma once

// The launcher's control requests: one line in, one JSON object out.
// Transport-free so the TCP server stays a thin loop.

#include <string>

namespace Tavrix::Simulator {

class RecorderModel;
class VirtualUsbRecorder;

class ControlInterface {
public:
    ControlInterface(RecorderModel& model, VirtualUsbRecorder& usb);

    // Always returns one line of JSON (without the newline): {"ok":true,...}
    // or {"ok":false,"error":"..."}.
    std::string handleLine(const std::string& line);


private:
    std::string handleFault(const std::string& arguments);
    std::string handleEcgRecord(const std::string& arguments);

    RecorderModel& m_model;
    VirtualUsbRecorder& m_usb;
};

} // namespace Tavrix::Simulator
