// The analytics event document: what a run has learnt (set piece by piece
// by the entry and the run driver) and what the machine says, written as one
// JSON record, without spaces, keys in a fixed order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qzr::sfx {

// The escaping of every string value, byte by byte over UTF-8: quote and
// backslash escaped, a line feed becomes "|", a carriage return is dropped,
// backspace, tab and form feed as \b \t \f, other control bytes as \u00xx;
// everything else (multi-byte sequences too) is copied.
std::string escape_event_text(std::string_view utf8);

// The user's UI language as the document writes it ("en-US"); languages
// outside the stub's table are "en-US".
std::string event_language_tag(std::int32_t language);

// What the run has told the reporting object.
class sfx_event_state {
public:
    void set_temp_path(const std::wstring& path) { temp_path_ = path; }
    void set_edition(bool offline) { edition_ = offline; }
    void set_aiid(const std::wstring& aiid) { aiid_ = aiid; }
    void set_session_id(const std::wstring& id) { session_id_ = id; }
    void set_title(const std::wstring& title) { title_ = title; }
    void set_reboot(bool reboot) { reboot_ = reboot ? "1" : ""; }
    void set_ret_code(std::int32_t code) { ret_code_ = std::to_string(code); }
    // Product and channel are escaped like every other string: a quote in a
    // channel switch must not break the document.
    void add_main_product(const std::wstring& product, const std::wstring& channel, bool reset);
    void set_operation(const std::string& operation) { operation_ = operation; }
    void set_trigger(const std::wstring& trigger) { trigger_ = trigger; }
    void set_cmdline(const std::wstring& cmdline) { cmdline_ = cmdline; }

    const std::wstring& temp_path() const noexcept { return temp_path_; }

    // Facts of the machine, asked while the document is written.
    struct machine {
        std::function<std::int64_t()> now_ms;  // milliseconds since 1970 UTC, asked twice
        std::string request_id;                // a fresh GUID per event
        std::string sfx_version;               // "%hu.%hu.%hu.%hu"
        std::uint64_t memory_mib = 0;
        std::uint32_t processors = 0;
        bool workstation = false;
        std::optional<std::uint64_t> available_mib;  // the temporary folder's volume, when it is set
        std::string hwid;
        std::string architecture;  // upper case
        std::uint32_t major = 0, minor = 0, build = 0;
        std::int32_t ui_language = 0;
        std::int32_t time_zone_bias = 0;
        std::string product_version;
    };

    std::string document(std::string_view stage, const machine& m) const;

private:
    std::wstring temp_path_, aiid_, session_id_, title_;
    std::string reboot_, ret_code_, main_products_;
    std::string operation_ = "install";
    bool edition_ = false;
    std::wstring trigger_, cmdline_;
};

}  // namespace qzr::sfx
