#include "usb/complexcommand.h"

namespace Tavrix::Usb {

ComplexCommand::ComplexCommand(const std::string& name, uint32_t uid)
    : QObject(nullptr)
    , m_name(name)
    , m_uid(uid)
{
}

ComplexCommand::~ComplexCommand() = default;

} // namespace Tavrix::Usb
