#include "usb/icomplexcommandcreator.h"

namespace Tavrix::Usb {

IComplexCommandCreator::~IComplexCommandCreator() = default;

} // namespace Tavrix::Usb
