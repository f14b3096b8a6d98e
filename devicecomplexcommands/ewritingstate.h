#pragma once

#include <cstdint>

namespace Tavrix::DeviceComplexCommands {

// Recording state of the recorder; clients see "Dialog" and "Writing".
enum class EWritingState : uint8_t { Dialog = 0, Writing = 1 };

} // namespace Tavrix::DeviceComplexCommands
