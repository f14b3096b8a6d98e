#include "usb/devicebaseinfoaggregator.h"

#include "common/stringextensions.h"

#include <algorithm>

namespace Tavrix::Usb {

namespace {
constexpr size_t kExtensionOffset = 12;
// Header before the text plus checksum and end byte after it.
constexpr long kFrameOverhead = 15;
constexpr long kMaxExtensionLength = 99;
} // namespace

QString DeviceBaseInfoAggregator::toVersionText(unsigned short version)
{
    return QStringLiteral("%1.%2")
        .arg(version >> 8, 0, 16)
        .arg(version & 0xFF, 2, 16, QLatin1Char('0'));
}

std::string DeviceBaseInfoAggregator::getDeviceName(const DeviceInfo& info)
{
    return QStringLiteral("%1(%2):%3:%4")
        .arg(QString::fromStdString(info.versionExtension))
        .arg(info.type)
        .arg(toVersionText(info.hardwareVersion))
        .arg(toVersionText(info.softwareVersion))
        .toStdString();
}

std::string DeviceBaseInfoAggregator::getDeviceExtension(const std::vector<uint8_t>& answer)
{
    if (answer.size() < 9)
        return {};
    const long count = std::min(static_cast<long>(answer.size()) - kFrameOverhead,
                                kMaxExtensionLength);
    if (count < 1)
        return {};
    const auto begin = answer.begin() + kExtensionOffset;
    const auto end = std::find(begin, begin + count, uint8_t(0));
    if (begin == end)
        return {};
    return Common::StringExtensions::toUtf8StringFromWindows1251(std::vector<uint8_t>(begin, end));
}

} // namespace Tavrix::Usb
