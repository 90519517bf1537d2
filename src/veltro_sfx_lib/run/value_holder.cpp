#include "veltro_sfx_lib/run/value_holder.hpp"

#include <cwctype>
#include <limits>
#include <stdexcept>

#include "framework/text_format.hpp"

namespace qzr::sfx {

namespace keys {
const std::wstring session_id = L"session-id";
const std::wstring process_path = L"process-path";
const std::wstring lang_id = L"lang-id";
const std::wstring tmp_path = L"tmp-path";
const std::wstring base_url = L"base-url";
const std::wstring silent = L"silent";
const std::wstring nosplash = L"nosplash";
const std::wstring clear = L"clear";
}  // namespace keys

std::int32_t stoi_checked(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    const std::size_t digits_from = i;
    std::int64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        if (!overflow) {
            value = value * 10 + (text[i] - L'0');
            if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) overflow = true;
        }
    }
    if (i == digits_from) throw std::invalid_argument("invalid stoi argument");
    if (negative) value = -value;
    if (overflow || value > std::numeric_limits<std::int32_t>::max() ||
        value < std::numeric_limits<std::int32_t>::min())
        throw std::out_of_range("stoi argument out of range");
    return static_cast<std::int32_t>(value);
}

void value_holder::set(const std::wstring& key, const std::wstring& value) {
    std::lock_guard<std::mutex> guard(lock_);
    values_.emplace(key, value);  // the first writer wins
}

void value_holder::set(const std::wstring& key, const wchar_t* value) { set(key, std::wstring(value ? value : L"")); }

void value_holder::set_bool(const std::wstring& key, bool value) { set(key, value ? L"1" : L"0"); }

void value_holder::set_int(const std::wstring& key, std::int32_t value) { set(key, text::decimal(value)); }

std::wstring value_holder::get(const std::wstring& key, const std::wstring& def) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = values_.find(key);
    return it == values_.end() ? def : it->second;
}

bool value_holder::get_bool(const std::wstring& key, bool def) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = values_.find(key);
    return it == values_.end() ? def : it->second == L"1";
}

std::int32_t value_holder::get_int(const std::wstring& key, std::int32_t def) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = values_.find(key);
    return it == values_.end() ? def : stoi_checked(it->second);
}

}  // namespace qzr::sfx
