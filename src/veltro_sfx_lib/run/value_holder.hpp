// The run parameters: one keyed store shared by every component of a run.
// The first value stored under a key stays for the whole run.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace qzr::sfx {

class value_holder_intf {
public:
    virtual ~value_holder_intf() = default;
    virtual void set(const std::wstring& key, const std::wstring& value) = 0;
    virtual void set(const std::wstring& key, const wchar_t* value) = 0;
    virtual void set_bool(const std::wstring& key, bool value) = 0;
    virtual void set_int(const std::wstring& key, std::int32_t value) = 0;
    virtual std::wstring get(const std::wstring& key, const std::wstring& def) const = 0;
    virtual bool get_bool(const std::wstring& key, bool def) const = 0;
    // Raises std::invalid_argument("invalid stoi argument") or
    // std::out_of_range("stoi argument out of range") for a stored value that
    // is not a 32-bit decimal number.
    virtual std::int32_t get_int(const std::wstring& key, std::int32_t def) const = 0;
};

class value_holder final : public value_holder_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<value_holder_intf> create() const { return std::make_shared<value_holder>(); }
    };

    void set(const std::wstring& key, const std::wstring& value) override;
    void set(const std::wstring& key, const wchar_t* value) override;
    void set_bool(const std::wstring& key, bool value) override;
    void set_int(const std::wstring& key, std::int32_t value) override;
    std::wstring get(const std::wstring& key, const std::wstring& def) const override;
    bool get_bool(const std::wstring& key, bool def) const override;
    std::int32_t get_int(const std::wstring& key, std::int32_t def) const override;

private:
    mutable std::mutex lock_;
    std::map<std::wstring, std::wstring> values_;
};

// The standard decimal string-to-int conversion: leading whitespace, an
// optional sign, digits; anything after the digits is ignored.
std::int32_t stoi_checked(const std::wstring& text);

// Keys of the run parameters (defined once, not in every file that uses them).
namespace keys {
extern const std::wstring session_id;
extern const std::wstring process_path;
extern const std::wstring lang_id;
extern const std::wstring tmp_path;
extern const std::wstring base_url;
extern const std::wstring silent;
extern const std::wstring nosplash;
extern const std::wstring clear;
}  // namespace keys

}  // namespace qzr::sfx
