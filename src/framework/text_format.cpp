#include "framework/text_format.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "framework/utf.hpp"

namespace qzr::text {

namespace {

enum class length { none, hh, h, l, ll, z };

struct conversion {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = -1;
    int precision = -1;
    length len = length::none;
    wchar_t conv = 0;
};

unsigned bits_of(length len) {
    switch (len) {
        case length::hh: return 8;
        case length::h: return 16;
        case length::ll:
        case length::z: return 64;
        default: return 32;  // int and long are 32-bit on Windows
    }
}

std::uint64_t as_unsigned(const format_arg& a, unsigned bits) {
    std::uint64_t v = 0;
    switch (a.k) {
        case format_arg::kind::sint: v = static_cast<std::uint64_t>(a.s); break;
        case format_arg::kind::uint: v = a.u; break;
        case format_arg::kind::pointer: v = reinterpret_cast<std::uintptr_t>(a.p); break;
        case format_arg::kind::floating: v = static_cast<std::uint64_t>(static_cast<std::int64_t>(a.d)); break;
        default: v = 0; break;
    }
    return bits >= 64 ? v : (v & ((std::uint64_t{1} << bits) - 1));
}

std::int64_t as_signed(const format_arg& a, unsigned bits) {
    std::uint64_t v = as_unsigned(a, bits);
    if (bits < 64 && (v >> (bits - 1)) & 1) v |= ~((std::uint64_t{1} << bits) - 1);
    return static_cast<std::int64_t>(v);
}

void pad_and_append(std::wstring& out, const conversion& sp, std::wstring_view prefix, std::wstring_view body,
                    bool numeric) {
    const std::size_t len = prefix.size() + body.size();
    const std::size_t width = sp.width > 0 ? static_cast<std::size_t>(sp.width) : 0;
    const std::size_t pad = width > len ? width - len : 0;
    if (sp.left) {
        out.append(prefix);
        out.append(body);
        out.append(pad, L' ');
    } else if (sp.zero && numeric && sp.precision < 0) {
        out.append(prefix);
        out.append(pad, L'0');
        out.append(body);
    } else {
        out.append(pad, L' ');
        out.append(prefix);
        out.append(body);
    }
}

std::wstring digits(std::uint64_t v, unsigned base, bool upper) {
    const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring d;
    do {
        d.insert(d.begin(), set[v % base]);
        v /= base;
    } while (v);
    return d;
}

void format_integer(std::wstring& out, const conversion& sp, const format_arg* a) {
    std::wstring prefix;
    std::wstring body;
    const unsigned bits = bits_of(sp.len);
    if (sp.conv == L'd' || sp.conv == L'i') {
        const std::int64_t v = a ? as_signed(*a, bits) : 0;
        const std::uint64_t mag = v < 0 ? (~static_cast<std::uint64_t>(v) + 1) : static_cast<std::uint64_t>(v);
        if (v < 0) prefix = L"-";
        else if (sp.plus) prefix = L"+";
        else if (sp.space) prefix = L" ";
        body = digits(mag, 10, false);
    } else {
        const std::uint64_t v = a ? as_unsigned(*a, bits) : 0;
        const unsigned base = sp.conv == L'u' ? 10 : sp.conv == L'o' ? 8 : 16;
        body = digits(v, base, sp.conv == L'X');
        if (sp.alt && v != 0) {
            if (sp.conv == L'x') prefix = L"0x";
            else if (sp.conv == L'X') prefix = L"0X";
            else if (sp.conv == L'o') prefix = L"0";
        }
    }
    if (sp.precision >= 0) {
        if (sp.precision == 0 && body == L"0") body.clear();
        if (body.size() < static_cast<std::size_t>(sp.precision))
            body.insert(0, static_cast<std::size_t>(sp.precision) - body.size(), L'0');
    }
    pad_and_append(out, sp, prefix, body, true);
}

void format_text(std::wstring& out, const conversion& sp, const format_arg* a) {
    std::wstring body;
    if (a) {
        if (a->null_text) body = L"(null)";
        else if (a->k == format_arg::kind::wide) body.assign(a->wide_text);
        else if (a->k == format_arg::kind::narrow) body = utf::from_utf8(a->narrow_text);
    }
    if (sp.precision >= 0 && body.size() > static_cast<std::size_t>(sp.precision))
        body.resize(static_cast<std::size_t>(sp.precision));
    pad_and_append(out, sp, {}, body, false);
}

void format_char(std::wstring& out, const conversion& sp, const format_arg* a) {
    std::wstring body;
    if (a) body.push_back(static_cast<wchar_t>(as_unsigned(*a, sizeof(wchar_t) * 8)));
    pad_and_append(out, sp, {}, body, false);
}

void format_pointer(std::wstring& out, const conversion& sp, const format_arg* a) {
    std::wstring body = digits(a ? as_unsigned(*a, sizeof(void*) * 8) : 0, 16, true);
    body.insert(0, sizeof(void*) * 2 - std::min(body.size(), sizeof(void*) * 2), L'0');
    pad_and_append(out, sp, {}, body, false);
}

// Unsigned integers of any length, 32-bit limbs, least significant first:
// just what exact decimal digits of a double need.
using big = std::vector<std::uint32_t>;

void multiply_small(big& n, std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : n) {
        carry += std::uint64_t{limb} * factor;
        limb = static_cast<std::uint32_t>(carry);
        carry >>= 32;
    }
    if (carry) n.push_back(static_cast<std::uint32_t>(carry));
}

std::uint32_t divide_small(big& n, std::uint32_t divisor) {
    std::uint64_t rest = 0;
    for (std::size_t i = n.size(); i-- > 0;) {
        rest = (rest << 32) | n[i];
        n[i] = static_cast<std::uint32_t>(rest / divisor);
        rest %= divisor;
    }
    while (!n.empty() && n.back() == 0) n.pop_back();
    return static_cast<std::uint32_t>(rest);
}

bool bit_at(const big& n, std::size_t i) { return i / 32 < n.size() && ((n[i / 32] >> (i % 32)) & 1); }

bool any_bit_below(const big& n, std::size_t i) {
    for (std::size_t limb = 0; limb < n.size() && limb * 32 < i; ++limb) {
        const std::size_t in_limb = std::min<std::size_t>(32, i - limb * 32);
        const std::uint32_t mask = in_limb == 32 ? ~0u : ((1u << in_limb) - 1);
        if (n[limb] & mask) return true;
    }
    return false;
}

void shift_left(big& n, std::size_t s) {
    n.insert(n.begin(), s / 32, 0);
    if (s % 32 == 0) return;
    std::uint32_t carry = 0;
    for (std::uint32_t& limb : n) {
        const std::uint32_t next = limb >> (32 - s % 32);
        limb = (limb << (s % 32)) | carry;
        carry = next;
    }
    if (carry) n.push_back(carry);
}

void shift_right(big& n, std::size_t s) {
    if (s / 32 >= n.size()) {
        n.clear();
        return;
    }
    n.erase(n.begin(), n.begin() + static_cast<std::ptrdiff_t>(s / 32));
    if (s % 32 != 0) {
        for (std::size_t i = 0; i < n.size(); ++i) {
            const std::uint32_t high = i + 1 < n.size() ? n[i + 1] << (32 - s % 32) : 0;
            n[i] = (n[i] >> (s % 32)) | high;
        }
    }
    while (!n.empty() && n.back() == 0) n.pop_back();
}

// The digits of |v| with `precision` digits after the point, as a correctly
// rounding printf writes them for "%.*f": a double is exactly m * 2^e, so
// m * 10^precision * 2^e is computed exactly and rounded half to even.
std::wstring fixed_point(double v, int precision) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased != 0) mantissa |= std::uint64_t{1} << 52;
    const int exponent = (biased == 0 ? 1 : biased) - 1075;

    big n{static_cast<std::uint32_t>(mantissa), static_cast<std::uint32_t>(mantissa >> 32)};
    for (int i = 0; i < precision; ++i) multiply_small(n, 10);
    if (exponent >= 0) {
        shift_left(n, static_cast<std::size_t>(exponent));
    } else {
        const auto s = static_cast<std::size_t>(-exponent);
        const bool half = bit_at(n, s - 1);
        const bool beyond_half = any_bit_below(n, s - 1);
        const bool odd = bit_at(n, s);
        shift_right(n, s);
        if (half && (beyond_half || odd)) {
            if (n.empty()) n.push_back(0);
            n.push_back(0);
            for (std::uint32_t& limb : n)
                if (++limb != 0) break;
            while (!n.empty() && n.back() == 0) n.pop_back();
        }
    }

    std::wstring digits;  // least significant first
    while (!n.empty()) {
        std::uint32_t group = divide_small(n, 1000000000);
        for (int i = 0; i < 9; ++i, group /= 10) digits.push_back(static_cast<wchar_t>(L'0' + group % 10));
    }
    while (digits.size() > 1 && digits.back() == L'0') digits.pop_back();
    if (digits.size() < static_cast<std::size_t>(precision) + 1) digits.resize(static_cast<std::size_t>(precision) + 1, L'0');
    std::wstring out(digits.rbegin(), digits.rend());
    if (precision > 0) out.insert(out.size() - static_cast<std::size_t>(precision), 1, L'.');
    return out;
}

void format_floating(std::wstring& out, const conversion& sp, const format_arg* a) {
    double v = 0;
    if (a) v = a->k == format_arg::kind::floating ? a->d : static_cast<double>(as_signed(*a, 64));
    std::wstring prefix;
    if (std::signbit(v)) prefix = L"-";
    else if (sp.plus) prefix = L"+";
    std::wstring body;
    if (std::isnan(v)) body = L"nan";
    else if (std::isinf(v)) body = L"inf";
    else body = fixed_point(std::fabs(v), sp.precision < 0 ? 6 : std::min(sp.precision, 30));
    // Unlike an integer's, a number's precision leaves the '0' flag in force.
    conversion padding = sp;
    padding.precision = -1;
    pad_and_append(out, padding, prefix, body, std::isfinite(v));
}

}  // namespace

std::wstring decimal(std::uint64_t v) { return digits(v, 10, false); }

std::wstring decimal(std::int64_t v) {
    // The magnitude of the most negative value does not fit its own type.
    const std::uint64_t mag = v < 0 ? ~static_cast<std::uint64_t>(v) + 1 : static_cast<std::uint64_t>(v);
    std::wstring text = digits(mag, 10, false);
    if (v < 0) text.insert(text.begin(), L'-');
    return text;
}

std::wstring vformat(std::wstring_view fmt, std::span<const format_arg> args) {
    std::wstring out;
    out.reserve(fmt.size() + 16 * args.size());
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < fmt.size()) {
        const wchar_t c = fmt[i];
        if (c != L'%') {
            out.push_back(c);
            ++i;
            continue;
        }
        const std::size_t start = i++;
        if (i < fmt.size() && fmt[i] == L'%') {
            out.push_back(L'%');
            ++i;
            continue;
        }
        conversion sp;
        for (; i < fmt.size(); ++i) {
            const wchar_t f = fmt[i];
            if (f == L'-') sp.left = true;
            else if (f == L'+') sp.plus = true;
            else if (f == L' ') sp.space = true;
            else if (f == L'#') sp.alt = true;
            else if (f == L'0') sp.zero = true;
            else break;
        }
        auto read_number = [&](int& dst) {
            dst = 0;
            while (i < fmt.size() && fmt[i] >= L'0' && fmt[i] <= L'9') {
                if (dst < 100000) dst = dst * 10 + (fmt[i] - L'0');
                ++i;
            }
        };
        if (i < fmt.size() && fmt[i] >= L'1' && fmt[i] <= L'9') read_number(sp.width);
        if (i < fmt.size() && fmt[i] == L'.') {
            ++i;
            read_number(sp.precision);
        }
        if (i < fmt.size()) {
            const std::wstring_view rest = fmt.substr(i);
            if (rest.starts_with(L"hh")) { sp.len = length::hh; i += 2; }
            else if (rest.starts_with(L"ll")) { sp.len = length::ll; i += 2; }
            else if (rest.starts_with(L"I64")) { sp.len = length::ll; i += 3; }
            else if (rest.starts_with(L"I32")) { sp.len = length::none; i += 3; }
            else if (rest[0] == L'h') { sp.len = length::h; ++i; }
            else if (rest[0] == L'l') { sp.len = length::l; ++i; }
            else if (rest[0] == L'z' || rest[0] == L'j' || rest[0] == L't' || rest[0] == L'I') {
                sp.len = length::z;
                ++i;
            }
        }
        if (i >= fmt.size()) {
            out.append(fmt.substr(start));
            break;
        }
        sp.conv = fmt[i++];
        const format_arg* a = next < args.size() ? &args[next] : nullptr;
        if (!a && std::wstring_view(L"diuoxXsScCpfFge").find(sp.conv) != std::wstring_view::npos) continue;
        switch (sp.conv) {
            case L'd': case L'i': case L'u': case L'o': case L'x': case L'X':
                format_integer(out, sp, a); ++next; break;
            case L's': case L'S':
                format_text(out, sp, a); ++next; break;
            case L'c': case L'C':
                format_char(out, sp, a); ++next; break;
            case L'p':
                format_pointer(out, sp, a); ++next; break;
            case L'f': case L'F': case L'g': case L'e':
                format_floating(out, sp, a); ++next; break;
            default:
                out.append(fmt.substr(start, i - start));
                break;
        }
    }
    return out;
}

std::string vformat(std::string_view fmt, std::span<const format_arg> args) {
    return utf::to_utf8(vformat(std::wstring_view(utf::from_utf8(fmt)), args));
}

std::string format_utf8_v(std::wstring_view fmt, std::span<const format_arg> args) {
    return utf::to_utf8(vformat(fmt, args));
}

}  // namespace qzr::text
