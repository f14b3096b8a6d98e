#pragma once

#include <QMetaType>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tavrix::Net::WebApi {

// Result of a web command: code 0 success, 1 error.
class JsonCommandStatus
{
public:
    explicit JsonCommandStatus(int32_t code)
        : m_code(code)
    {
    }
    virtual ~JsonCommandStatus() = default;

    int32_t code() const { return m_code; }

protected:
    int32_t m_code;
};

class OkJsonCommandStatus : public JsonCommandStatus
{
public:
    OkJsonCommandStatus()
        : JsonCommandStatus(0)
    {
    }
};

// `errorCode` is a device status name such as "TIMEOUT" or "BAD_DATA".
class ErrorJsonCommandStatus : public JsonCommandStatus
{
public:
    explicit ErrorJsonCommandStatus(std::string errorCode)
        : JsonCommandStatus(1)
        , m_errorCode(std::move(errorCode))
    {
    }

    const std::string& errorCode() const { return m_errorCode; }
    // What the client should know beyond the code, for example which parts
    // of a multi-step write reached the device; shown as "errortext" when set.
    const std::string& errorText() const { return m_errorText; }
    void setErrorText(std::string text) { m_errorText = std::move(text); }

protected:
    std::string m_errorCode;
    std::string m_errorText;
};

// An error with what caused it (the raw frame of a malformed answer); the
// answer envelope does not show the data.
template<typename T>
class ErrorJsonCommandStatusWithData : public ErrorJsonCommandStatus
{
public:
    ErrorJsonCommandStatusWithData(std::string errorCode, T data)
        : ErrorJsonCommandStatus(std::move(errorCode))
        , m_data(std::move(data))
    {
    }

    const T& data() const { return m_data; }

private:
    T m_data;
};

// Registers the status pointer for queued signal connections; idempotent.
void registerJsonCommandMetaTypes();

} // namespace Tavrix::Net::WebApi

Q_DECLARE_METATYPE(std::shared_ptr<Tavrix::Net::WebApi::JsonCommandStatus>)
