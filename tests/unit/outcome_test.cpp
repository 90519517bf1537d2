#include <gtest/gtest.h>

#include <stdexcept>

#include "veltro_sfx/outcome.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"

using namespace qzr::sfx;
namespace ex = qzr::sfx::exceptions;
using box = failure_outcome::box_kind;
using log_kind = failure_outcome::log_kind;

namespace {

template <class E>
failure_outcome outcome_of(const E& e) {
    return classify_failure(std::make_exception_ptr(e));
}

// Texts are marked so that tests see what went through translation.
struct marking_translator : sfx_translator_intf {
    std::wstring translate(const std::wstring& id) const override { return L"<" + id + L">"; }
    std::wstring translate(const std::wstring& id, const std::vector<std::wstring>& args) const override {
        return replace_arguments(translate(id), args);
    }
};

}  // namespace

TEST(FailureTable, ExitCodesBoxesAndLogs) {
    struct row {
        failure_outcome got;
        std::int32_t exit_code;
        box b;
        std::int32_t box_code;
        std::wstring message;
        log_kind log;
    };
    const row rows[] = {
        {outcome_of(ex::unsupported_os()), 45056, box::general, 45056, L"@Sfx_UnsupportedOS", log_kind::none},
        {outcome_of(ex::download_file_invalid_signature(L"bad %s", L"x")), 44024, box::general, 44024,
         L"@Sfx_FileInvalidSignature", log_kind::none},
        {outcome_of(ex::sfx_invalid_signature()), 44024, box::general, 44024, L"SFX is not DSA signed!", log_kind::none},
        {outcome_of(ex::download_file_fail(12029, L"offline")), 44002, box::download, 12029, L"@Sfx_Download_Fail",
         log_kind::none},
        {outcome_of(ex::missign_sfx_file(L"sfx info file wasn't found in payload.")), 44051, box::general, 44051,
         L"@Sfx_MissingSfx", log_kind::none},
        {outcome_of(ex::ppi_abort(1602)), 1602, box::none, 1602, L"", log_kind::none},
        {outcome_of(ex::insufficient_integrity_level()), 124, box::general, 124, L"@Sfx_LowIntegrity", log_kind::none},
        {outcome_of(ex::invalid_payload(L"Invalid payload magic")), 487, box::general, 487, L"Invalid payload magic",
         log_kind::error_object},
        {outcome_of(ex::unsupported_file_format(L"Not PE")), 193, box::general, 193, L"Not PE", log_kind::error_object},
        {outcome_of(ex::ppi_cancel()), 1223, box::general, 1223, L"Unknown exception", log_kind::error_object},
        {outcome_of(qzr::exceptions::error(2, L"gone")), 2, box::general, 2, L"gone", log_kind::error_object},
        {outcome_of(std::invalid_argument("invalid stoi argument")), 1, box::general, 1, L"invalid stoi argument",
         log_kind::generic},
        {classify_failure(std::make_exception_ptr(42)), 1, box::general, 1, L"Unknown exception", log_kind::generic},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.exit_code);
        EXPECT_EQ(r.got.exit_code, r.exit_code);
        EXPECT_EQ(r.got.box, r.b);
        EXPECT_EQ(r.got.box_code, r.box_code);
        EXPECT_EQ(r.got.message, r.message);
        EXPECT_EQ(r.got.log, r.log);
    }
}

TEST(FailureBox, GeneralBodyWithCodeAndLogLines) {
    const auto o = outcome_of(ex::missign_sfx_file(L"x"));
    const auto t = compose_failure_box(marking_translator(), o, L"C:\\ProgramData\\Odrano\\Veltro\\Logs\\sfx.log");
    EXPECT_EQ(t.caption, L"<@Sfx_MsgBoxTitle>");
    EXPECT_EQ(t.body,
              L"<@Sfx_MissingSfx>\n\n<@Sfx_ErrCode>:'44051'.\n\n<@Sfx_LogInfo>:\n'C:\\ProgramData\\Odrano\\Veltro\\Logs\\sfx.log'.");
}

TEST(FailureBox, DownloadBoxShowsTheCodeTwoWays) {
    struct download_text : marking_translator {
        std::wstring translate(const std::wstring& id) const override {
            return id == L"@Sfx_Download_Fail" ? L"Cannot download ({0})." : marking_translator::translate(id);
        }
        using marking_translator::translate;
    };
    const auto o = outcome_of(ex::download_file_fail(L"no route"));
    EXPECT_EQ(o.exit_code, 44002);
    const auto t = compose_failure_box(download_text(), o, L"");
    EXPECT_EQ(t.body, L"Cannot download (4294967295).\n\n<@Sfx_ErrCode>:'-1'.\n\n<@Sfx_LogInfo>:\n''.");
}

TEST(FailureBox, SilentSwitchesInAnyForm) {
    EXPECT_TRUE(boxes_suppressed(command_line(L"s.exe /SILENT", true)));
    EXPECT_TRUE(boxes_suppressed(command_line(L"s.exe --verysilent", true)));
    EXPECT_TRUE(boxes_suppressed(command_line(L"s.exe /Silent:splash", true)));
    EXPECT_FALSE(boxes_suppressed(command_line(L"s.exe silent /silently", true)));
}

TEST(ClientId, AcceptedRejectedAndFresh) {
    const std::wstring a = L"0f8fad5b-d9cb-469f-a165-70867728950e";
    const std::wstring b = L"7c9e6679-7425-40de-944b-e07fc1f90ae7";
    auto fresh = [] { return std::wstring(L"fresh"); };

    command_line braces(L"s.exe /track-guid:{" + a + L"} /x", true);
    EXPECT_EQ(select_client_id(braces, fresh), L"fresh");
    EXPECT_FALSE(braces.has(L"track-guid"));  // so the driver never sees it
    EXPECT_EQ(braces.rebuild(false), L"/x");

    command_line both(L"s.exe /track-guid:" + a + L" /ga_clientid:" + b, true);
    EXPECT_EQ(select_client_id(both, fresh), b);

    command_line padded(L"s.exe \"/track-guid:\t" + a + L" \"", true);
    EXPECT_EQ(select_client_id(padded, fresh), a);

    command_line bad_ga(L"s.exe /track-guid:" + a + L" /ga_clientid:nope", true);
    EXPECT_EQ(select_client_id(bad_ga, fresh), a);
    EXPECT_FALSE(bad_ga.has(L"ga_clientid"));
}
