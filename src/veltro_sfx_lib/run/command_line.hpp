// The command-line object: a program path, switches (unique keys compared
// without regard to ASCII case, kept in order of first appearance) and loose
// arguments. Parsing never fails; rebuilding quotes what needs it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qzr::sfx {

// Splits a command line into tokens: whitespace separates outside quotes, a
// lone '"' toggles quoting and is dropped, '""' is one literal '"'.
std::vector<std::wstring> tokenize(std::wstring_view text);

// '"' doubled, and the whole token in quotes when it holds whitespace.
std::wstring quote_token(std::wstring_view token);

class command_line {
public:
    using switch_entry = std::pair<std::wstring, std::wstring>;

    command_line() = default;
    command_line(std::wstring_view text, bool has_program_path) { parse(text, has_program_path); }

    void parse(std::wstring_view text, bool has_program_path);

    bool has(std::wstring_view key) const;
    std::wstring& get_or_add(std::wstring_view key);
    std::optional<std::wstring> find(std::wstring_view key) const;
    void add_or_replace(std::wstring_view key, std::wstring_view value);
    bool remove(std::wstring_view key);
    std::wstring rebuild(bool with_program_path) const;
    void merge(const command_line& other);

    bool has_program_path() const noexcept { return has_program_; }
    const std::wstring& program_path() const noexcept { return program_; }
    void set_program_path(std::wstring path) {
        program_ = std::move(path);
        has_program_ = true;
    }
    const std::vector<switch_entry>& switches() const noexcept { return switches_; }
    const std::vector<std::wstring>& arguments() const noexcept { return arguments_; }

private:
    std::vector<switch_entry>::iterator locate(std::wstring_view key);
    std::vector<switch_entry>::const_iterator locate(std::wstring_view key) const;

    std::wstring program_;
    bool has_program_ = false;
    std::vector<switch_entry> switches_;
    std::vector<std::wstring> arguments_;
};

}  // namespace qzr::sfx
