#include "usb/devicebaseinfoaggregator.h"

#include "common/stringextensions.h"
#include "usb/recorderframe.h"

#include <algorithm>

namespace Tavrix::Usb {

namespace {
constexpr size_t kExtensionOffset = 12;
constexpr size_t kMaxExtensionLength = 99;
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
    // The text runs to the first zero byte or the end of the data.
    Common::ByteReader fields = RecorderFrame::fields(answer, kExtensionOffset);
    std::vector<uint8_t> text;
    if (!fields.readBytes(std::min(fields.remaining(), kMaxExtensionLength), text))
        return {};
    text.erase(std::find(text.begin(), text.end(), uint8_t(0)), text.end());
    if (text.empty())
        return {};
    return Common::StringExtensions::toUtf8StringFromWindows1251(text);
}

} // namespace Tavrix::Usb
