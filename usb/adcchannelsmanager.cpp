#include "usb/adcchannelsmanager.h"

namespace Tavrix::Usb {

AdcChannelsManager::AdcChannelsManager(QObject* parent)
    : QObject(parent)
{
}

AdcChannelsManager::~AdcChannelsManager() = default;

} // namespace Tavrix::Usb
