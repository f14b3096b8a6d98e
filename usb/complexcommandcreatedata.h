#pragma once

#include "usb/icomplexcommandcreatedata.h"

#include <utility>

namespace Tavrix::Usb {

// Create data of an operation without arguments: only the uid.
template<typename T>
class ComplexCommandCreateData : public IComplexCommandCreateData
{
public:
    explicit ComplexCommandCreateData(T value)
        : m_value(std::move(value))
    {
    }

    const T& value() const { return m_value; }

private:
    T m_value;
};

} // namespace Tavrix::Usb
