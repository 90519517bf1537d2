#include "net/range_resume.hpp"

#include <algorithm>

#include "framework/text_format.hpp"

namespace qzr::net::resume {

namespace {

// An ETag is at most a few dozen characters from any real server; a date
// in the HTTP form is 29.
constexpr std::size_t max_validator = 256;

bool visible_ascii(std::wstring_view text, bool spaces) {
    return std::all_of(text.begin(), text.end(),
                       [spaces](wchar_t c) { return (c > 0x20 && c < 0x7F) || (spaces && c == L' '); });
}

bool strong_etag(std::wstring_view tag) {
    return tag.size() >= 2 && tag.size() <= max_validator && tag.front() == L'"' && tag.back() == L'"' &&
           tag.substr(1, tag.size() - 2).find(L'"') == std::wstring_view::npos && visible_ascii(tag, false);
}

bool is_date(std::wstring_view text) {
    return !text.empty() && text.size() <= max_validator && visible_ascii(text, true) && text.front() != L' ' &&
           text.back() != L' ';
}

// Decimal digits only, within 64 bits; advances text past them.
std::optional<std::uint64_t> take_number(std::wstring_view& text) {
    std::size_t used = 0;
    std::uint64_t value = 0;
    while (used < text.size() && text[used] >= L'0' && text[used] <= L'9') {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[used] - L'0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
        ++used;
    }
    if (used == 0) return std::nullopt;
    text.remove_prefix(used);
    return value;
}

bool take(std::wstring_view& text, std::wstring_view expected) {
    if (text.substr(0, expected.size()) != expected) return false;
    text.remove_prefix(expected.size());
    return true;
}

}  // namespace

std::wstring request_headers(const partial& held) {
    if (!held.continuable()) return {};
    return text::format(L"Range: bytes=%llu-\r\nIf-Range: %s", static_cast<unsigned long long>(held.bytes),
                        held.validator);
}

std::optional<content_range> parse_content_range(std::wstring_view text) {
    content_range r;
    if (!take(text, L"bytes ")) return std::nullopt;
    const auto first = take_number(text);
    if (!first || !take(text, L"-")) return std::nullopt;
    const auto last = take_number(text);
    if (!last || !take(text, L"/")) return std::nullopt;
    const auto complete = take_number(text);
    if (!complete || !text.empty() || *first > *last || *last >= *complete) return std::nullopt;
    r.first = *first;
    r.last = *last;
    r.complete = *complete;
    return r;
}

std::wstring validator_of(const response_facts& r) {
    if (r.etag) return strong_etag(*r.etag) ? *r.etag : std::wstring();
    if (r.last_modified && is_date(*r.last_modified)) return *r.last_modified;
    return {};
}

verdict judge(const partial& held, const response_facts& r) {
    if (r.status == 200) return verdict::fresh;
    // A part is only ever asked for when one is held; an unasked one, or
    // one of another representation, would splice two files into one.
    if (r.status != 206 || !held.continuable() || !r.content_range) return verdict::refuse;
    const auto range = parse_content_range(*r.content_range);
    if (!range || range->first != held.bytes || range->complete != held.total || range->last != held.total - 1)
        return verdict::refuse;
    if (r.content_length != static_cast<std::int64_t>(range->last - range->first + 1)) return verdict::refuse;
    // If-Range asked the server for this representation only; a server that
    // sends the part of another one is caught by its own validator.
    const bool by_tag = held.validator.front() == L'"';
    if (by_tag && r.etag && *r.etag != held.validator) return verdict::refuse;
    if (!by_tag && r.last_modified && *r.last_modified != held.validator) return verdict::refuse;
    return verdict::append;
}

}  // namespace qzr::net::resume
