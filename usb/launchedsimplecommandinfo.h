#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Usb {

// One request for a simple command of the connected device's description.
struct LaunchedSimpleCommandInfo
{
    LaunchedSimpleCommandInfo() = default;
    LaunchedSimpleCommandInfo(const std::string& name, uint32_t uid, std::vector<uint8_t> data = {});

    std::string name; // matched ignoring letter case
    uint32_t uid = 0;
    std::vector<uint8_t> data; // argument bytes; empty when the command takes none
};

} // namespace Tavrix::Usb
