#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <vector>

namespace Tavrix::DevicesInfo {

// A list whose copies share their elements until one of them is changed.
// A device type's command lists are read once from its description and never
// change after, yet every identification copies the description several
// times over (the identified recorder, the connected one, the command set);
// copying the lists element by element was most of the cost of identifying.
template<class T>
class SharedList
{
public:
    using value_type = T;
    using const_iterator = typename std::vector<T>::const_iterator;
    using iterator = const_iterator;
    using size_type = std::size_t;

    SharedList() = default;
    SharedList(std::initializer_list<T> items)
        : m_items(std::make_shared<std::vector<T>>(items))
    {
    }

    const std::vector<T>& items() const
    {
        static const std::vector<T> none;
        return m_items ? *m_items : none;
    }
    const_iterator begin() const { return items().begin(); }
    const_iterator end() const { return items().end(); }
    size_type size() const { return items().size(); }
    bool empty() const { return items().empty(); }
    const T& operator[](size_type index) const { return items()[index]; }

    void push_back(T item) { own().push_back(std::move(item)); }
    void clear() { m_items.reset(); }

private:
    // Lists are changed while a description is read, before it is shared;
    // a list that is shared already is copied first all the same.
    std::vector<T>& own()
    {
        if (!m_items)
            m_items = std::make_shared<std::vector<T>>();
        else if (m_items.use_count() > 1)
            m_items = std::make_shared<std::vector<T>>(*m_items);
        return *m_items;
    }

    std::shared_ptr<std::vector<T>> m_items;
};

} // namespace Tavrix::DevicesInfo
