#include "usb/icomplexcommandcreatedata.h"

namespace Tavrix::Usb {

IComplexCommandCreateData::~IComplexCommandCreateData() = default;

} // namespace Tavrix::Usb
