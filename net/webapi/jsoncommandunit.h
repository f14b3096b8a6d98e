#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Tavrix::Net::WebApi {

// Type of a described value; other values render as "unknown".
enum class EJsonUnitType : int32_t {
    Int = 0,
    Float = 1,
    Bool = 2,
    String = 3,
    Binary = 4,
    Object = 5,
    Array = 6,
};

std::string jsonUnitTypeName(EJsonUnitType type);

class JsonCommandUnit;
using JsonCommandUnits = std::vector<std::shared_ptr<JsonCommandUnit>>;

// A bare value: type only.
class NamelessJsonCommandUnit
{
public:
    explicit NamelessJsonCommandUnit(EJsonUnitType type);
    virtual ~NamelessJsonCommandUnit() = default;
    virtual std::string toString(size_t indent, bool quoted) const;

    EJsonUnitType type() const { return m_type; }

protected:
    EJsonUnitType m_type;
};

class NamelessJsonCommandObjectUnit : public NamelessJsonCommandUnit
{
public:
    explicit NamelessJsonCommandObjectUnit(JsonCommandUnits members);
    std::string toString(size_t indent, bool quoted) const override;

    const JsonCommandUnits& members() const { return m_members; }

protected:
    JsonCommandUnits m_members;
};

// No data, or an answer without a value.
class NamelessEmptyJsonCommandUnit : public NamelessJsonCommandObjectUnit
{
public:
    NamelessEmptyJsonCommandUnit();
};

// A member of an object: name and type.
class JsonCommandUnit
{
public:
    JsonCommandUnit(std::string name, EJsonUnitType type);
    virtual ~JsonCommandUnit() = default;
    virtual std::string toString(size_t indent, bool quoted) const;

    const std::string& name() const { return m_name; }
    EJsonUnitType type() const { return m_type; }

protected:
    std::string m_name;
    EJsonUnitType m_type;
};

// The descriptions list many plain members; this keeps each to its name and type.
inline std::shared_ptr<JsonCommandUnit> unit(std::string name, EJsonUnitType type)
{
    return std::make_shared<JsonCommandUnit>(std::move(name), type);
}

class JsonCommandObjectUnit : public JsonCommandUnit
{
public:
    JsonCommandObjectUnit(std::string name, JsonCommandUnits members);
    std::string toString(size_t indent, bool quoted) const override;

    const JsonCommandUnits& members() const { return m_members; }

private:
    JsonCommandUnits m_members;
};

// Rendered as two members: the array itself ("array" or "array(N)") and a
// companion "__<name>_items" describing one item.
class JsonCommandArrayUnit : public JsonCommandUnit
{
public:
    JsonCommandArrayUnit(std::string name, size_t itemCount, std::shared_ptr<NamelessJsonCommandUnit> item);
    std::string toString(size_t indent, bool quoted) const override;

    size_t itemCount() const { return m_itemCount; }
    const std::shared_ptr<NamelessJsonCommandUnit>& item() const { return m_item; }

private:
    size_t m_itemCount;
    std::shared_ptr<NamelessJsonCommandUnit> m_item;
};

// A command's self-description: name, request data and answer.
class JsonCommandDescription : public JsonCommandUnit
{
public:
    JsonCommandDescription(const std::string& name, std::shared_ptr<NamelessJsonCommandUnit> data,
                           std::shared_ptr<NamelessJsonCommandUnit> answer);
    std::string toString(size_t indent, bool quoted) const override;

    const std::shared_ptr<NamelessJsonCommandUnit>& data() const { return m_data; }
    const std::shared_ptr<NamelessJsonCommandUnit>& answer() const { return m_answer; }

private:
    std::shared_ptr<NamelessJsonCommandUnit> m_data;
    std::shared_ptr<NamelessJsonCommandUnit> m_answer;
};

} // namespace Tavrix::Net::WebApi
