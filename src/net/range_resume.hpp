// Continuing a cut download with a range request: which validator may guard
// it, the headers that ask for the rest, and whether a response continues
// what is held, replaces it, or must be refused. Nothing here touches the
// network or a file; the downloader acts on the verdicts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qzr::net::resume {

// What a response's headers say about the body that follows.
struct response_facts {
    std::uint32_t status = 0;
    std::int64_t content_length = -1;  // -1 when absent or not a number
    std::optional<std::wstring> content_range, etag, last_modified;
};

// The head of one representation, held in a candidate's temporary file.
struct partial {
    std::uint64_t bytes = 0;  // written so far, from byte 0 on
    std::uint64_t total = 0;  // the whole representation, 0 when unknown
    std::wstring validator;   // a strong ETag, else a Last-Modified date; empty: none
    // Worth a range request: part of it is held, and a validator can make
    // the server send the rest of the same representation or all of a new one.
    bool continuable() const { return bytes > 0 && bytes < total && !validator.empty(); }
};

// "Range: bytes=N-\r\nIf-Range: V" for a continuable part, else empty.
std::wstring request_headers(const partial& held);

struct content_range {
    std::uint64_t first = 0, last = 0, complete = 0;
};
// "bytes FIRST-LAST/COMPLETE" with FIRST <= LAST < COMPLETE, in decimal
// within 64 bits; anything else (an unknown length "*", "bytes */N", other
// units, blanks where none belong) is nullopt.
std::optional<content_range> parse_content_range(std::wstring_view text);

// The validator a full response gives for continuing it later: its ETag
// when that is strong, none when it is weak (a weak tag cannot guard a
// range, and a date beside it may not either), else its Last-Modified.
// A value that could not stand in a request header as it is (control
// characters, an unquoted tag, more than fits a header line) gives none.
std::wstring validator_of(const response_facts& r);

enum class verdict {
    fresh,   // a whole body: it replaces what was held, from byte 0
    append,  // the rest of exactly what is held
    refuse,  // neither: the transfer stops, and what is held is dropped
};
verdict judge(const partial& held, const response_facts& r);

}  // namespace qzr::net::resume
