// Which response may continue a held part, and which validator may guard
// the request for it. A wrong "append" splices two files into one.
#include <gtest/gtest.h>

#include "net/range_resume.hpp"

using namespace qzr::net::resume;

namespace {

response_facts part(const wchar_t* range, std::int64_t length, const wchar_t* etag = nullptr) {
    response_facts r;
    r.status = 206;
    r.content_length = length;
    r.content_range = range;
    if (etag) r.etag = etag;
    return r;
}

}  // namespace

TEST(RangeResume, OnlyTheExactRestOfTheSameFileIsAppended) {
    const partial held{600, 1000, L"\"v1\""};
    EXPECT_EQ(request_headers(held), L"Range: bytes=600-\r\nIf-Range: \"v1\"");
    struct row {
        response_facts response;
        verdict expected;
    };
    response_facts whole;
    whole.status = 200;
    whole.content_length = 1000;
    response_facts dated = part(L"bytes 600-999/1000", 400);
    dated.last_modified = L"Tue, 14 Nov 2023 22:13:20 GMT";
    const row rows[] = {
        {whole, verdict::fresh},
        {part(L"bytes 600-999/1000", 400), verdict::append},
        {part(L"bytes 600-999/1000", 400, L"\"v1\""), verdict::append},
        {dated, verdict::append},  // an ETag guard does not look at dates
        {part(L"bytes 600-999/1000", 400, L"\"v2\""), verdict::refuse},
        {part(L"bytes 0-399/1000", 400), verdict::refuse},
        {part(L"bytes 601-999/1000", 399), verdict::refuse},
        {part(L"bytes 600-998/1000", 399), verdict::refuse},
        {part(L"bytes 600-1199/1200", 600), verdict::refuse},
        {part(L"bytes 600-999/1000", 399), verdict::refuse},
        {part(L"bytes 600-999/*", 400), verdict::refuse},
        {part(L"bytes */1000", 0), verdict::refuse},
        {part(L"items 600-999/1000", 400), verdict::refuse},
        {part(L"bytes 600-999/1000 ", 400), verdict::refuse},
        {part(L"bytes 600-999/18446744073709552616", 400), verdict::refuse},
        {response_facts{206, 400, std::nullopt, std::nullopt, std::nullopt}, verdict::refuse},
        {response_facts{416, 0, std::nullopt, std::nullopt, std::nullopt}, verdict::refuse},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.response.content_range ? std::wstring(*r.response.content_range) : L"(no range)");
        EXPECT_EQ(judge(held, r.response), r.expected);
    }

    // Guarded by a date, a part with another date is another file.
    const partial by_date{600, 1000, L"Tue, 14 Nov 2023 22:13:20 GMT"};
    EXPECT_EQ(judge(by_date, dated), verdict::append);
    dated.last_modified = L"Tue, 14 Nov 2023 22:13:21 GMT";
    EXPECT_EQ(judge(by_date, dated), verdict::refuse);

    // A part that was never asked for is never taken.
    for (const partial& nothing : {partial{}, partial{600, 1000, L""}, partial{1000, 1000, L"\"v1\""}}) {
        EXPECT_EQ(request_headers(nothing), L"");
        EXPECT_EQ(judge(nothing, part(L"bytes 600-999/1000", 400)), verdict::refuse);
    }
}

TEST(RangeResume, AValidatorMustBeStrongAndFitARequestHeader) {
    struct row {
        std::optional<std::wstring> etag, last_modified;
        std::wstring expected;
    };
    const std::wstring date = L"Tue, 14 Nov 2023 22:13:20 GMT";
    const row rows[] = {
        {L"\"abc\"", date, L"\"abc\""},
        {std::nullopt, date, date},
        {L"W/\"abc\"", date, L""},  // weak: neither it nor the date may guard a range
        {L"abc", std::nullopt, L""},
        {L"\"a\"b\"", std::nullopt, L""},
        {L"\"abc\"\r\nX-Injected: 1", std::nullopt, L""},
        {std::nullopt, L"Tue, 14 Nov 2023\r\nX: 1", L""},
        {L"\"" + std::wstring(300, L'a') + L"\"", std::nullopt, L""},
        {std::nullopt, std::nullopt, L""},
    };
    for (const row& r : rows) {
        response_facts f;
        f.status = 200;
        f.etag = r.etag;
        f.last_modified = r.last_modified;
        EXPECT_EQ(validator_of(f), r.expected) << (r.etag ? std::string(r.etag->begin(), r.etag->end()) : "");
    }
}
