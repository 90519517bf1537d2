#include "framework/path.hpp"

namespace qzr::path {

std::wstring join(std::wstring_view left, std::wstring_view right) {
    std::wstring out(left);
    if (left.empty()) {
        out.assign(right);
        return out;
    }
    const bool left_has = is_separator(left.back());
    const bool right_has = !right.empty() && is_separator(right.front());
    if (left_has && right_has) right.remove_prefix(1);
    else if (!left_has && !right_has) out.push_back(L'\\');
    out.append(right);
    return out;
}

std::wstring parent(std::wstring_view path) {
    const auto pos = path.find_last_of(L"\\/");
    return pos == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, pos));
}

}  // namespace qzr::path
