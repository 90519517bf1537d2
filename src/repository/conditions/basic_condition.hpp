// The rule language: conditions loaded from XML elements, containers that
// combine them, the factory that maps element names to kinds (with automatic
// "not-" negation), and the context they are evaluated in.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "repository/conditions/host_facts.hpp"
#include "repository/light_expander.hpp"

namespace qzr::repository::conditions {

class basic_factory;

struct basic_context {
    virtual ~basic_context() = default;
    std::shared_ptr<basic_factory> factory;
    std::shared_ptr<expander_intf> expander;
    std::shared_ptr<const host_facts_intf> host;
};

class basic_condition {
public:
    virtual ~basic_condition() = default;
    virtual void load(const pugi::xml_node& node, const basic_context& context);
    // Writes the element name and the attributes that were set.
    virtual void save(pugi::xml_node node) const;
    virtual bool evaluate(const basic_context& context) const = 0;

protected:
    std::optional<std::wstring> name_;
};

class condition_container : public basic_condition {
public:
    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;
    std::size_t size() const noexcept { return children_.size(); }

protected:
    std::vector<std::unique_ptr<basic_condition>> children_;
    std::vector<pugi::xml_node> sources_;  // the element each child was loaded from
};

class condition_and : public condition_container {
public:
    bool evaluate(const basic_context& context) const override;
};

class condition_or : public condition_container {
public:
    bool evaluate(const basic_context& context) const override;
};

class condition_not : public condition_container {
public:
    bool evaluate(const basic_context& context) const override;
};

// Built from a "conditions" or "conditions2" element; empty means true.
class condition_root : public condition_container {
public:
    // The result, and the element of the first child that failed (empty when
    // every child held and the default decided). Valid while the document is.
    struct verdict {
        bool result = true;
        pugi::xml_node decided_by;
    };

    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;
    bool evaluate(const basic_context& context) const override { return explain(context).result; }
    verdict explain(const basic_context& context) const;

private:
    std::optional<bool> default_;
};

class basic_factory {
public:
    using creator = std::unique_ptr<basic_condition> (*)();

    // A kind whose result is the negation of T's, with T's loading, errors
    // and short-circuits.
    template <class T>
    class negate_condition final : public T {
    public:
        bool evaluate(const basic_context& context) const override { return !T::evaluate(context); }
    };

    virtual ~basic_factory() = default;

    // Registers T under name and its negation under "not-" + name.
    template <class T>
    void register_condition(const std::wstring& name) {
        creators_[name] = [] { return std::unique_ptr<basic_condition>(new T()); };
        creators_[L"not-" + name] = [] { return std::unique_ptr<basic_condition>(new negate_condition<T>()); };
    }

    // Raises "Unable to parse element '%ls' as a condition!" for an
    // unregistered name (exact, case-sensitive).
    std::unique_ptr<basic_condition> create(const std::wstring& name) const;

private:
    std::map<std::wstring, creator> creators_;
};

// The 32-bit narrowing failure of numeric attributes: not a failure of the
// system's error hierarchy, so it is not absorbed where those are.
class narrowing_error : public std::exception {
public:
    const char* what() const noexcept override { return "narrowing_error"; }
};

namespace attributes {
std::optional<std::wstring> read_string(const pugi::xml_node& node, const wchar_t* name);
// Exactly "true" or "false"; anything else is absent.
std::optional<bool> read_bool(const pugi::xml_node& node, const wchar_t* name);
// A whole base-10 number within 64 bits (leading blanks and a sign allowed);
// absent otherwise; raises narrowing_error outside 32 bits.
std::optional<std::int32_t> read_int32(const pugi::xml_node& node, const wchar_t* name);
std::optional<std::int64_t> parse_int64(const std::wstring& text);
// A version as comparisons read it, "%hu.%hu.%hu.%hu": parts that are
// missing or cannot be read are 0, blanks and a sign before a part are
// skipped, and a part wraps at 16 bits.
std::array<std::uint16_t, 4> read_version(std::wstring_view text);
// Whether read_version reads text exactly as written: one to four numbers of
// 0 to 65535 separated by dots, and nothing else.
bool is_plain_version(std::wstring_view text);

void write(pugi::xml_node node, const wchar_t* name, const std::optional<std::wstring>& value);
void write(pugi::xml_node node, const wchar_t* name, const std::optional<bool>& value);
void write(pugi::xml_node node, const wchar_t* name, const std::optional<std::int32_t>& value);
}  // namespace attributes

// "The assertion failed for expression: %s" (code 87).
[[noreturn]] void assertion_failed(const char* expression);
// "%ls: The XML element is missing required attributes!" (code 87).
[[noreturn]] void missing_attributes(const wchar_t* element);

}  // namespace qzr::repository::conditions
