#include "common/stringextensions.h"

#include <QString>
#include <QTextCodec>
#include <cctype>

namespace Tavrix::Common {

namespace {

QTextCodec* windows1251()
{
    static QTextCodec* codec = QTextCodec::codecForName("Windows-1251");
    return codec;
}

QTextCodec* utf8()
{
    static QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    return codec;
}

} // namespace

bool StringExtensions::isEqualsInsensitive(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i]))
            != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string StringExtensions::toUtf8StringFromWindows1251(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty())
        return {};
    QString text = windows1251()->toUnicode(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<int>(bytes.size()));
    const int zero = text.indexOf(QChar(0));
    if (zero >= 0)
        text.truncate(zero);
    return utf8()->fromUnicode(text).toStdString();
}

std::string StringExtensions::toUtf8StringFromWindows1251(const std::string& bytes)
{
    return toUtf8StringFromWindows1251(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::wstring StringExtensions::toWStringFromWindows1251(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty())
        return {};
    const QString text = windows1251()->toUnicode(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<int>(bytes.size()));
    std::wstring result;
    result.reserve(static_cast<size_t>(text.size()));
    for (const uint code : text.toUcs4())
        result.push_back(static_cast<wchar_t>(code));
    return result;
}

std::vector<uint8_t> StringExtensions::toWindows1251FromUtf8(const std::string& text)
{
    if (text.empty())
        return {};
    const QString unicode = utf8()->toUnicode(text.data(), static_cast<int>(text.size()));
    const QByteArray encoded = windows1251()->fromUnicode(unicode);
    return std::vector<uint8_t>(encoded.begin(), encoded.end());
}

std::string StringExtensions::getZeroLeadNumberText(int value, unsigned width)
{
    std::string text = std::to_string(value);
    if (text.size() < width)
        text.insert(0, width - text.size(), '0');
    return text;
}

} // namespace Tavrix::Common
