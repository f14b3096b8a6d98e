#include "net/webapi/jsoncommandunit.h"

namespace Tavrix::Net::WebApi {

namespace {

const char* const crlf = "\r\n";

std::string pad(size_t count)
{
    return std::string(count, ' ');
}

std::string quote(const std::string& text)
{
    return "\"" + text + "\"";
}

// The members of an object unit and its closing brace; the opening brace is
// the caller's.
std::string membersText(const JsonCommandUnits& members, size_t indent)
{
    std::string text;
    for (size_t i = 0; i < members.size(); ++i) {
        text += members[i]->toString(indent + 2, true);
        if (i + 1 < members.size())
            text += ",";
        text += crlf;
    }
    text += "}";
    return text;
}

} // namespace

std::string jsonUnitTypeName(EJsonUnitType type)
{
    switch (type) {
    case EJsonUnitType::Int:
        return "int";
    case EJsonUnitType::Float:
        return "float";
    case EJsonUnitType::Bool:
        return "bool";
    case EJsonUnitType::String:
        return "string";
    case EJsonUnitType::Binary:
        return "binary";
    case EJsonUnitType::Object:
        return "object";
    case EJsonUnitType::Array:
        return "array";
    }
    return "unknown";
}

NamelessJsonCommandUnit::NamelessJsonCommandUnit(EJsonUnitType type)
    : m_type(type)
{
}

std::string NamelessJsonCommandUnit::toString(size_t, bool quoted) const
{
    const std::string name = jsonUnitTypeName(m_type);
    return quoted ? quote(name) : name;
}

NamelessJsonCommandObjectUnit::NamelessJsonCommandObjectUnit(JsonCommandUnits members)
    : NamelessJsonCommandUnit(EJsonUnitType::Object)
    , m_members(std::move(members))
{
}

std::string NamelessJsonCommandObjectUnit::toString(size_t indent, bool) const
{
    return std::string("{") + crlf + membersText(m_members, indent);
}

NamelessEmptyJsonCommandUnit::NamelessEmptyJsonCommandUnit()
    : NamelessJsonCommandObjectUnit({})
{
}

JsonCommandUnit::JsonCommandUnit(std::string name, EJsonUnitType type)
    : m_name(std::move(name))
    , m_type(type)
{
}

std::string JsonCommandUnit::toString(size_t indent, bool) const
{
    return pad(indent) + quote(m_name) + ": " + quote(jsonUnitTypeName(m_type));
}

JsonCommandObjectUnit::JsonCommandObjectUnit(std::string name, JsonCommandUnits members)
    : JsonCommandUnit(std::move(name), EJsonUnitType::Object)
    , m_members(std::move(members))
{
}

std::string JsonCommandObjectUnit::toString(size_t indent, bool) const
{
    return pad(indent) + quote(m_name) + ": {" + crlf + membersText(m_members, indent);
}

JsonCommandArrayUnit::JsonCommandArrayUnit(std::string name, size_t itemCount,
                                           std::shared_ptr<NamelessJsonCommandUnit> item)
    : JsonCommandUnit(std::move(name), EJsonUnitType::Array)
    , m_itemCount(itemCount)
    , m_item(std::move(item))
{
}

std::string JsonCommandArrayUnit::toString(size_t indent, bool) const
{
    std::string text = pad(indent) + quote(m_name) + ": \"array";
    if (m_itemCount != 0)
        text += "(" + std::to_string(m_itemCount) + ")";
    text += std::string("\",") + crlf;
    text += pad(indent + 2) + quote("__" + m_name + "_items") + ": ";
    text += m_item ? m_item->toString(indent + 2, true) : quote(jsonUnitTypeName(static_cast<EJsonUnitType>(-1)));
    return text;
}

JsonCommandDescription::JsonCommandDescription(const std::string& name,
                                               std::shared_ptr<NamelessJsonCommandUnit> data,
                                               std::shared_ptr<NamelessJsonCommandUnit> answer)
    : JsonCommandUnit(name, EJsonUnitType::Object)
    , m_data(std::move(data))
    , m_answer(std::move(answer))
{
}

std::string JsonCommandDescription::toString(size_t indent, bool) const
{
    const std::string inner = pad(indent + 2);
    std::string text = pad(indent) + "{" + crlf;
    text += inner + "\"cmd\": " + quote(m_name) + "," + crlf;
    text += inner + "\"data\": " + (m_data ? m_data->toString(0, true) : "null") + "," + crlf;
    text += inner + "\"answer\": " + (m_answer ? m_answer->toString(0, true) : "null") + crlf;
    text += "}";
    return text;
}

} // namespace Tavrix::Net::WebApi
