// How a run's failure becomes an exit code, a log line and a message box.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/ui/sfx_translator.hpp"

namespace qzr::sfx {

struct failure_outcome {
    enum class box_kind { none, general, download };
    enum class log_kind { none, error_object, generic };

    std::int32_t exit_code = 1;
    box_kind box = box_kind::none;
    std::int32_t box_code = 0;
    std::wstring message;   // identifier of the string table or plain text
    std::wstring argument;  // the download box's "{0}"
    log_kind log = log_kind::none;
    std::string log_text;   // generic: the exception's text
};

// Applies the table of caught kinds, first match wins. Must be called with
// an exception in flight or a stored one.
failure_outcome classify_failure(const std::exception_ptr& failure);

struct box_text {
    std::wstring caption;
    std::wstring body;
};

// Caption, body and the appended "error code" and "log" lines.
box_text compose_failure_box(const sfx_translator_intf& translator, const failure_outcome& outcome,
                             const std::wstring& log_path);

// silent or verysilent on the command line: no box at all.
bool boxes_suppressed(const command_line& cmd);

// The client identifier: an accepted track-guid, overridden by an accepted
// ga_clientid; rejected values are removed from the command line; a fresh
// random identifier when neither is accepted.
std::wstring select_client_id(command_line& cmd, std::wstring (*make_fresh)());

}  // namespace qzr::sfx
