#pragma once

#include "usb/complexcommand.h"
#include "usb/complexcommandcreatemultidata.h"
#include "usb/icomplexcommandcreator.h"

#include <cstddef>
#include <memory>
#include <tuple>
#include <utility>

namespace Tavrix::Usb {

namespace Detail {

template<typename Tuple, std::size_t Offset, typename Seq>
struct TupleSlice;

template<typename Tuple, std::size_t Offset, std::size_t... I>
struct TupleSlice<Tuple, Offset, std::index_sequence<I...>>
{
    using type = std::tuple<std::tuple_element_t<Offset + I, Tuple>...>;
};

template<typename... Ts>
struct MultidataOf;

template<typename... Ts>
struct MultidataOf<std::tuple<Ts...>>
{
    using type = ComplexCommandCreateMultidata<Ts...>;
};

} // namespace Detail

// Creates Cmd(data values..., args...) from a ComplexCommandCreateMultidata.
// The first N types after N are the create data's value types (the uid
// first); the remaining types are the fixed values given at registration.
template<typename Cmd, std::size_t N, typename... Types>
class ComplexMultidataCommandCreator : public IComplexCommandCreator
{
    static_assert(N >= 1 && N <= sizeof...(Types), "N counts the create data values");

    using All = std::tuple<Types...>;
    using DataTuple = typename Detail::TupleSlice<All, 0, std::make_index_sequence<N>>::type;
    using ArgsTuple =
        typename Detail::TupleSlice<All, N, std::make_index_sequence<sizeof...(Types) - N>>::type;
    using Data = typename Detail::MultidataOf<DataTuple>::type;

public:
    template<typename... Args>
    explicit ComplexMultidataCommandCreator(Args&&... args)
        : m_args(std::forward<Args>(args)...)
    {
    }

    std::shared_ptr<ComplexCommand> create(std::shared_ptr<IComplexCommandCreateData> data) override
    {
        const auto typed = std::dynamic_pointer_cast<Data>(data);
        if (!typed)
            return {};
        return std::apply(
            [this](const auto&... values) {
                return std::apply(
                    [&values...](const auto&... args) {
                        return std::make_shared<Cmd>(values..., args...);
                    },
                    m_args);
            },
            typed->values());
    }

private:
    ArgsTuple m_args;
};

} // namespace Tavrix::Usb
