// The pure half of the log: levels, event sources, the message rules and the
// fixed line layout every sink writes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qzr::log {

enum level : unsigned {
    level_debug = 0,
    level_block = 1,
    level_info = 2,
    level_fnction = 3,
    level_notice = 4,
    level_warning = 5,
    level_thread = 6,
    level_error = 7,
    level_fatal = 8,
    level_none = 9,  // as a threshold: nothing passes
};

// "debug" ... "fatal"; empty for a level above 8.
std::string_view level_name(unsigned level) noexcept;

using file_id = std::array<char, 8>;

struct log_source {
    char tag[12];  // UTF-8, at most 11 bytes, zero-padded
    file_id file;  // not terminated
    std::int32_t line;
};

log_source make_source(std::string_view tag, const file_id& file, std::int32_t line) noexcept;

// Identifier of a source file as it was built on the release machine: MD5 of
// the salt and the lower-cased path after the build prefix, first 8 of the 32
// upper-case hex digits. Raises std::logic_error("The prefixes do not match")
// for a path outside the build prefix.
file_id file_id_from_build_path(std::string_view build_path);
// The same for a source path relative to the repository (as __FILE__ is
// mapped in our builds), placed under the release machine's project folder.
file_id file_id_of_source(const char* relative_path);

inline constexpr std::string_view build_prefix = "C:\\BUILD\\work\\b1fc704878a8d844\\";

// 100-ns ticks since 1601-01-01 UTC (a FILETIME value).
using filetime = std::uint64_t;

struct civil_time {
    int year, month, day, hour, minute, second, millisecond;
};
// Fails like the system conversion does for values with the top bit set.
std::optional<civil_time> to_civil(filetime t) noexcept;

struct event {
    unsigned level;
    log_source source;
    std::string message;  // UTF-8, already composed
    filetime time;
    std::uint32_t process_id;
    std::uint32_t thread_id;
};

// Leading CR LF pairs dropped, inner CR LF turned into LF, and the thread's
// context in front ("{context} message") with a last context segment equal
// to the tag left out.
std::string compose_message(std::string_view message, std::string_view context, std::string_view tag);

// "[time] [level  ] [tag        ] [pid  :tid  ] [fileid:line] message" with
// CR LF at the end; further message lines are indented by 78 spaces.
// Empty when the time cannot be converted; "event formatting failed" when
// formatting throws.
std::string format_line(const event& ev);

inline constexpr std::size_t header_width = 78;

}  // namespace qzr::log
