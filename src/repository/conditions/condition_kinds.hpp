// The leaf kinds of the rule language: a constant, comparisons, a prefix
// test, a file test, operating-system tests and the brand test.
#pragma once

#include "repository/conditions/basic_condition.hpp"

namespace qzr::repository::conditions {

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
