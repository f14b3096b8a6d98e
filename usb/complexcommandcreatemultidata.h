#pragma once

#include "usb/icomplexcommandcreatedata.h"

#include <tuple>
#include <utility>

namespace Tavrix::Usb {

// Create data of an operation with arguments: the uid first, then the
// operation's arguments in constructor order.
template<typename T0, typename... Ts>
class ComplexCommandCreateMultidata : public IComplexCommandCreateData
{
public:
    using Tuple = std::tuple<T0, Ts...>;

    explicit ComplexCommandCreateMultidata(T0 first, Ts... rest)
        : m_values(std::move(first), std::move(rest)...)
    {
    }

    const Tuple& values() const { return m_values; }

private:
    Tuple m_values;
};

} // namespace Tavrix::Usb
