#pragma once

#include "net/webapi/jsoncommand.h"

#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>

namespace Tavrix::Net::WebApi {

class IJsonCommandCreator
{
public:
    virtual ~IJsonCommandCreator() = default;
    virtual std::shared_ptr<JsonCommand> create() = 0;
};

// Makes Cmd(description, args...) for every request.
template<typename Cmd, typename Description, typename... Args>
class JsonCommandCreator : public IJsonCommandCreator
{
public:
    JsonCommandCreator(Description description, Args... args)
        : m_description(std::move(description))
        , m_args(std::move(args)...)
    {
    }

    std::shared_ptr<JsonCommand> create() override
    {
        return std::apply([this](const Args&... args) { return std::make_shared<Cmd>(m_description, args...); },
                          m_args);
    }

private:
    Description m_description;
    std::tuple<Args...> m_args;
};

struct JsonCommandFactoryItem
{
    std::shared_ptr<JsonCommandDescription> m_description;
    std::shared_ptr<IJsonCommandCreator> m_creator;
};

// The registered web commands, keyed by command name as written. Filled at
// start-up, read-only afterwards.
class JsonCommandFactory
{
public:
    using Map = std::unordered_map<std::string, std::shared_ptr<JsonCommandFactoryItem>>;

    // Replaces an entry with exactly the same name.
    void add(std::shared_ptr<JsonCommandDescription> description, std::shared_ptr<IJsonCommandCreator> creator);

    template<typename Cmd, typename... Args>
    void add(std::shared_ptr<JsonCommandDescription> description, Args... args)
    {
        add(description, std::make_shared<JsonCommandCreator<Cmd, std::shared_ptr<JsonCommandDescription>, Args...>>(
                             description, args...));
    }

    // The first entry, in iteration order, whose name equals `name` ignoring
    // letter case; null when there is none.
    std::shared_ptr<JsonCommandFactoryItem> find(const std::string& name) const;

    const Map& items() const { return m_items; }
    Map::const_iterator begin() const { return m_items.begin(); }
    Map::const_iterator end() const { return m_items.end(); }
    size_t size() const { return m_items.size(); }

private:
    Map m_items;
};

} // namespace Tavrix::Net::WebApi
