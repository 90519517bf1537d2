#include "framework/version_block.hpp"

#include <algorithm>

namespace qzr::version_block {

namespace {

constexpr std::uint32_t fixed_signature = 0xFEEF04BD;
constexpr std::size_t fixed_size = 52;  // VS_FIXEDFILEINFO
constexpr std::size_t header_size = 6;

std::size_t align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

// One node, as offsets into the block. Every offset lies inside the node,
// and the node inside its parent: read_node checks both, so the readers
// below touch only bytes it has checked.
struct node {
    std::size_t end = 0;  // one past the node's last byte
    std::size_t key = 0;  // first character of the key
    std::size_t key_length = 0;
    std::size_t value = 0;
    std::size_t value_bytes = 0;
    std::size_t children = 0;
};

class reader {
public:
    explicit reader(byte_view block) : b_(block) {}

    std::uint16_t u16(std::size_t at) const { return static_cast<std::uint16_t>(b_.data()[at] | b_.data()[at + 1] << 8); }

    // The node at `at`, which must end by `limit` (never past the block).
    bool read_node(std::size_t at, std::size_t limit, node& n) const {
        if (limit > b_.size() || at > limit || limit - at < header_size) return false;
        const std::size_t length = u16(at);
        if (length < header_size || length > limit - at) return false;
        n.end = at + length;
        const std::size_t value_length = u16(at + 2);
        const bool text = u16(at + 4) == 1;
        n.key = at + header_size;
        std::size_t p = n.key;
        for (;; p += 2) {
            if (n.end - p < 2) return false;
            if (u16(p) == 0) break;
        }
        n.key_length = (p - n.key) / 2;
        p = std::min(align4(p + 2), n.end);
        // Text values count characters, binary ones bytes; a text value that
        // claims more than the node holds is cut at the node's end.
        n.value = p;
        n.value_bytes = text ? std::min(value_length * 2, n.end - p) : value_length;
        if (n.value_bytes > n.end - p) return false;
        n.children = std::min(align4(p + n.value_bytes), n.end);
        return true;
    }

    // Whether the node's key is name, ignoring ASCII case as the system does.
    bool key_is(const node& n, std::wstring_view name) const {
        if (n.key_length != name.size()) return false;
        for (std::size_t i = 0; i < name.size(); ++i)
            if (fold(u16(n.key + 2 * i)) != fold(static_cast<std::uint32_t>(name[i]))) return false;
        return true;
    }

    // The first child of parent whose key is name.
    bool child(const node& parent, std::wstring_view name, node& found) const {
        for (std::size_t at = parent.children; at < parent.end; at = std::min(align4(found.end), parent.end)) {
            if (!read_node(at, parent.end, found)) return false;
            if (key_is(found, name)) return true;
        }
        return false;
    }

    bool root(node& r) const { return read_node(0, b_.size(), r) && key_is(r, L"VS_VERSION_INFO"); }

    std::uint32_t u32(std::size_t at) const { return u16(at) | static_cast<std::uint32_t>(u16(at + 2)) << 16; }

private:
    static std::uint32_t fold(std::uint32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }
    byte_view b_;
};

wchar_t hex_digit(unsigned v) { return static_cast<wchar_t>(v < 10 ? L'0' + v : L'a' + v - 10); }

}  // namespace

std::optional<std::array<std::uint16_t, 4>> file_version(byte_view block) noexcept {
    const reader r(block);
    node root;
    if (!r.root(root) || root.value_bytes < fixed_size || r.u32(root.value) != fixed_signature) return std::nullopt;
    return std::array<std::uint16_t, 4>{r.u16(root.value + 10), r.u16(root.value + 8), r.u16(root.value + 14),
                                        r.u16(root.value + 12)};
}

std::optional<std::wstring> string_value(byte_view block, std::wstring_view name) {
    const reader r(block);
    node root, var, translation, strings, table, value;
    if (!r.root(root) || !r.child(root, L"VarFileInfo", var) || !r.child(var, L"Translation", translation) ||
        translation.value_bytes < 4 || !r.child(root, L"StringFileInfo", strings))
        return std::nullopt;
    // The table of the first translation: language and code page as eight
    // hexadecimal digits (either case in the file).
    wchar_t key[8];
    const std::uint32_t id = static_cast<std::uint32_t>(r.u16(translation.value)) << 16 | r.u16(translation.value + 2);
    for (int i = 0; i < 8; ++i) key[i] = hex_digit(id >> (28 - 4 * i) & 0xF);
    if (!r.child(strings, std::wstring_view(key, 8), table) || !r.child(table, name, value)) return std::nullopt;
    std::wstring out;
    for (std::size_t at = value.value; at + 2 <= value.value + value.value_bytes && r.u16(at); at += 2)
        out.push_back(static_cast<wchar_t>(r.u16(at)));
    return out;
}

}  // namespace qzr::version_block
