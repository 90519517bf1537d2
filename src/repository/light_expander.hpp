// %VARIABLE% values of condition attributes: a value is replaced only when
// the whole value is a known variable name.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace qzr::repository {

class expander_intf {
public:
    virtual ~expander_intf() = default;
    virtual std::wstring expand(const wchar_t* text, std::size_t length) const = 0;
    virtual std::shared_ptr<std::wstring> expand_shared(const wchar_t* text, std::size_t length) const = 0;
    virtual std::optional<std::wstring> expand_optional(const std::optional<std::wstring>& text) const = 0;

    std::wstring expand(const std::wstring& text) const { return expand(text.data(), text.size()); }
};

class light_expander final : public expander_intf {
public:
    std::wstring expand(const wchar_t* text, std::size_t length) const override;
    std::shared_ptr<std::wstring> expand_shared(const wchar_t* text, std::size_t length) const override;
    std::optional<std::wstring> expand_optional(const std::optional<std::wstring>& text) const override;
    using expander_intf::expand;

    // Inserts the variable or replaces its value; the name includes its '%'.
    void set(const std::wstring& name, const std::wstring& value) { variables_[name] = value; }

private:
    std::map<std::wstring, std::wstring> variables_;
};

}  // namespace qzr::repository
