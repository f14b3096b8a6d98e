#pragma once

#include <QVariant>
#include <cstdint>
#include <string>

namespace Tavrix::Net::WebApi {

// The request handed to a command.
class IJsonCommandInfo
{
public:
    IJsonCommandInfo() = default;
    IJsonCommandInfo(std::string name, uint32_t uid)
        : m_name(std::move(name))
        , m_uid(uid)
    {
    }
    virtual ~IJsonCommandInfo() = default;

    std::string m_name; // as the client wrote it
    uint32_t m_uid = 0;
};

// Carries the request's "data" member (null when absent); commands check it
// themselves.
class VariantJsonCommandInfo : public IJsonCommandInfo
{
public:
    VariantJsonCommandInfo() = default;
    VariantJsonCommandInfo(std::string name, uint32_t uid, QVariant data)
        : IJsonCommandInfo(std::move(name), uid)
        , m_data(std::move(data))
    {
    }

    QVariant m_data;
};

} // namespace Tavrix::Net::WebApi
