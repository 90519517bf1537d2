// The leaf kinds of the rule language: a constant, comparisons, a prefix
// test, a file test, operating-system tests and the brand test.
#pragma once

#include "environment/os_info.hpp"
#include "repository/conditions/basic_condition.hpp"
#include "repository/conditions/brand.hpp"

namespace qzr::repository::conditions {

// The words rules compare host facts with (without regard to case). Rules
// read them from these tables, and so does the release tools' check, which
// refuses any other word: the stub would match it nowhere.
namespace words {
template <class Fact>
struct word {
    Fact fact;
    const wchar_t* text;
};
// os platform: the native architectures that have a name.
inline constexpr word<environment::platform> platforms[] = {{environment::platform::x86, L"x86"},
                                                            {environment::platform::x64, L"x64"},
                                                            {environment::platform::arm64, L"arm64"}};
// os type: a domain controller is a server.
inline constexpr word<environment::product_type> product_types[] = {
    {environment::workstation, L"workstation"}, {environment::server, L"server"},
    {environment::domain_controller, L"server"}};
// brand name: the brands a rule can name (odrano cannot be asked for).
inline constexpr word<brand> brands[] = {{brand::kavro, L"kavro"},
                                         {brand::quenlo, L"quenlo"},
                                         {brand::pettrel, L"pettrel"},
                                         {brand::sulvane, L"sulvane"},
                                         {brand::tavrix, L"tavrix"}};
// file type; "file" when absent.
inline constexpr const wchar_t* file_type = L"file";
inline constexpr const wchar_t* device_type = L"device";
// type of equals, less-than and greater-than: every other value is ignored.
inline constexpr const wchar_t* version_type = L"version";
}  // namespace words

class condition_boolean : public basic_condition {
public:
    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;
    bool evaluate(const basic_context& context) const override;

private:
    std::optional<bool> value_;
};

class condition_basic_compare : public basic_condition {
public:
    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;
    // Negative, zero or positive: versions, numbers or text, in that order.
    int compare(const basic_context& context) const;

private:
    std::optional<std::wstring> left_, right_, type_;
};

class condition_equals : public condition_basic_compare {
public:
    bool evaluate(const basic_context& context) const override { return compare(context) == 0; }
};
class condition_less_than : public condition_basic_compare {
public:
    bool evaluate(const basic_context& context) const override { return compare(context) < 0; }
};
class condition_greater_than : public condition_basic_compare {
public:
    bool evaluate(const basic_context& context) const override { return compare(context) > 0; }
};

class condition_starts_with : public basic_condition {
public:
    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;
    bool evaluate(const basic_context& context) const override;

private:
    std::optional<std::wstring> string_, prefix_;
};

class condition_path : public basic_condition {
public:
    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;

protected:
    std::optional<std::wstring> path_, type_;
    std::optional<bool> exists_;
};

class condition_file : public condition_path {
public:
    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;
    bool evaluate(const basic_context& context) const override;
    virtual bool check_exists(const basic_context& context, const std::wstring& path) const;
    virtual bool check_empty(const basic_context& context, const std::wstring& path) const;

private:
    std::optional<bool> empty_;
};

class condition_basic_os : public basic_condition {
public:
    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;
    virtual bool check_version(const basic_context& context) const;

protected:
    // Field by field (major, minor, sp, build; absent ones skipped): the sign
    // of host minus given at the first difference, 0 when all are equal.
    int compare_version(const basic_context& context) const;

    std::optional<std::int32_t> major_, minor_, sp_, build_;
};

class condition_os : public condition_basic_os {
public:
    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;
    bool evaluate(const basic_context& context) const override;
    virtual bool check_platform(const basic_context& context) const;
    virtual bool check_type(const basic_context& context) const;

private:
    std::optional<std::wstring> platform_, type_;
};

class condition_os_at_least : public condition_basic_os {
public:
    bool evaluate(const basic_context& context) const override { return compare_version(context) >= 0; }
};

class condition_os_at_most : public condition_basic_os {
public:
    bool evaluate(const basic_context& context) const override { return compare_version(context) <= 0; }
};

class condition_brand : public basic_condition {
public:
    void load(const pugi::xml_node& node, const basic_context& context) override;
    void save(pugi::xml_node node) const override;
    bool evaluate(const basic_context& context) const override;

private:
    std::optional<std::wstring> name_attr_;
};

// A factory with the thirteen kinds (and their "not-" forms) registered.
std::shared_ptr<basic_factory> make_condition_factory();

}  // namespace qzr::repository::conditions
