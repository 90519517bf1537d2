#include "veltro_sfx_lib/run/command_line.hpp"

#include <algorithm>

#include "framework/utf.hpp"

namespace qzr::sfx {

namespace {

bool is_space(wchar_t c) noexcept { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

}  // namespace

std::vector<std::wstring> tokenize(std::wstring_view text) {
    std::vector<std::wstring> tokens;
    std::wstring current;
    bool in_token = false;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'"') {
            if (i + 1 < text.size() && text[i + 1] == L'"') {
                current.push_back(L'"');
                in_token = true;
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        if (!quoted && is_space(c)) {
            if (in_token || !current.empty()) tokens.push_back(std::move(current));
            current.clear();
            in_token = false;
            continue;
        }
        current.push_back(c);
        in_token = true;
    }
    // A quoted empty text never yields a token.
    if (!current.empty()) tokens.push_back(std::move(current));
    return tokens;
}

std::wstring quote_token(std::wstring_view token) {
    std::wstring out;
    out.reserve(token.size() + 2);
    bool needs_quotes = false;
    for (wchar_t c : token) {
        if (c == L'"') out.push_back(L'"');
        if (is_space(c)) needs_quotes = true;
        out.push_back(c);
    }
    if (needs_quotes) {
        out.insert(out.begin(), L'"');
        out.push_back(L'"');
    }
    return out;
}

void command_line::parse(std::wstring_view text, bool has_program_path) {
    program_.clear();
    has_program_ = false;
    switches_.clear();
    arguments_.clear();
    auto tokens = tokenize(text);
    std::size_t first = 0;
    if (has_program_path && !tokens.empty()) {
        program_ = tokens[0];
        has_program_ = !program_.empty();
        first = 1;
    }
    for (std::size_t i = first; i < tokens.size(); ++i) {
        std::wstring_view tok = tokens[i];
        std::wstring_view body;
        if (!tok.empty() && tok[0] == L'/') body = tok.substr(1);
        else if (tok.size() >= 2 && tok.starts_with(L"--")) body = tok.substr(2);
        else {
            arguments_.emplace_back(tok);
            continue;
        }
        const auto sep = body.find_first_of(L"=:");
        if (sep == std::wstring_view::npos) add_or_replace(body, L"");
        else add_or_replace(body.substr(0, sep), body.substr(sep + 1));
    }
}

std::vector<command_line::switch_entry>::iterator command_line::locate(std::wstring_view key) {
    return std::find_if(switches_.begin(), switches_.end(),
                        [&](const switch_entry& e) { return utf::iequals(e.first, key); });
}

std::vector<command_line::switch_entry>::const_iterator command_line::locate(std::wstring_view key) const {
    return std::find_if(switches_.begin(), switches_.end(),
                        [&](const switch_entry& e) { return utf::iequals(e.first, key); });
}

bool command_line::has(std::wstring_view key) const { return locate(key) != switches_.end(); }

std::wstring& command_line::get_or_add(std::wstring_view key) {
    auto it = locate(key);
    if (it != switches_.end()) return it->second;
    switches_.emplace_back(std::wstring(key), std::wstring());
    return switches_.back().second;
}

std::optional<std::wstring> command_line::find(std::wstring_view key) const {
    auto it = locate(key);
    if (it == switches_.end()) return std::nullopt;
    return it->second;
}

void command_line::add_or_replace(std::wstring_view key, std::wstring_view value) {
    auto it = locate(key);
    if (it != switches_.end()) it->second.assign(value);
    else switches_.emplace_back(std::wstring(key), std::wstring(value));
}

bool command_line::remove(std::wstring_view key) {
    auto it = locate(key);
    if (it == switches_.end()) return false;
    switches_.erase(it);
    return true;
}

std::wstring command_line::rebuild(bool with_program_path) const {
    std::wstring out;
    if (with_program_path && has_program_) out = quote_token(program_);
    for (const auto& [key, value] : switches_) {
        if (!out.empty()) out.push_back(L' ');
        std::wstring token = L"/" + key;
        if (!value.empty()) {
            token.push_back(L':');
            token += value;
        }
        out += quote_token(token);
    }
    for (const auto& arg : arguments_) {
        if (!out.empty()) out.push_back(L' ');
        out += quote_token(arg);
    }
    return out;
}

void command_line::merge(const command_line& other) {
    if (other.has_program_) set_program_path(other.program_);
    for (const auto& [key, value] : other.switches_) add_or_replace(key, value);
    arguments_.insert(arguments_.end(), other.arguments_.begin(), other.arguments_.end());
}

}  // namespace qzr::sfx
