#pragma once

#include "usb/complexcommand.h"
#include "usb/complexcommandcreatedata.h"
#include "usb/icomplexcommandcreator.h"

#include <memory>
#include <tuple>

namespace Tavrix::Usb {

// Creates Cmd(value, args...) from a ComplexCommandCreateData<Data>; Args are
// the fixed dependencies given at registration.
template<typename Cmd, typename Data, typename... Args>
class ComplexDataCommandCreator : public IComplexCommandCreator
{
public:
    explicit ComplexDataCommandCreator(Args... args)
        : m_args(args...)
    {
    }

    std::shared_ptr<ComplexCommand> create(std::shared_ptr<IComplexCommandCreateData> data) override
    {
        const auto typed = std::dynamic_pointer_cast<ComplexCommandCreateData<Data>>(data);
        if (!typed)
            return {};
        return std::apply(
            [&typed](const Args&... args) { return std::make_shared<Cmd>(typed->value(), args...); },
            m_args);
    }

private:
    std::tuple<Args...> m_args;
};

} // namespace Tavrix::Usb
