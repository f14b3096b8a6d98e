#include "usb/cabletypeinfo.h"

namespace Tavrix::Usb {

const CableTypeInfo* CableTypeInfo::find(const std::vector<CableTypeInfo>& list, uint8_t type)
{
    for (const CableTypeInfo& info : list) {
        if (info.type == type)
            return &info;
    }
    return nullptr;
}

} // namespace Tavrix::Usb
