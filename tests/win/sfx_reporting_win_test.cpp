// The reporting object over a recording HTTP client: where each event goes,
// with which client settings, and that nothing it meets fails the run.
#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <stdexcept>

#include "../support/log_capture.hpp"
#include "framework/errors.hpp"
#include "net/proxy_settings.hpp"
#include "veltro_sfx_lib/reporting/sfx_reporting.hpp"

namespace {

using namespace qzr;
using namespace qzr::sfx;

struct posted {
    std::uint32_t access = 99, resolve_timeout = 0;
    bool proxy_set = false;
    net::url target;
    std::string body;
};

struct recording_http : net::simple_http_wrapper::factory {
    mutable std::vector<posted> posts;
    std::uint32_t status = 200;
    std::shared_ptr<net::simple_http_wrapper_intf> create(std::uint32_t access, std::uint32_t timeout) const override {
        struct client : net::simple_http_wrapper_intf {
            const recording_http& f;
            posted p;
            client(const recording_http& f, std::uint32_t access, std::uint32_t timeout) : f(f) {
                p.access = access;
                p.resolve_timeout = timeout;
            }
            std::uint32_t get_to_stream(const net::url&, const std::shared_ptr<types::stream_writter_intf>&,
                                        std::uint32_t, const std::wstring&) override { return 0; }
            std::uint32_t get_to_memory(const net::url&, std::vector<std::uint8_t>&, const std::wstring&) override {
                return 0;
            }
            std::uint32_t get_to_file(const net::url&, const std::wstring&, const std::wstring&) override { return 0; }
            std::wstring query_header(const std::wstring&) override { return L""; }
            void set_proxy_settings(const http::ProxySettings&) override { p.proxy_set = true; }
            void set_proxy(const std::wstring&, const std::wstring&, const std::wstring&, std::uint32_t) override {}
            std::uint32_t post(const net::url& u, const std::vector<std::uint8_t>& body, const std::wstring&) override {
                p.target = u;
                p.body.assign(body.begin(), body.end());
                f.posts.push_back(p);
                return f.status;
            }
            void set_progress(net::simple_http_progress_intf*) override {}
        };
        return std::make_shared<client>(*this, access, timeout);
    }
};

struct fixed_facts : sfx_machine_facts_intf {
    bool fail = false;
    sfx_event_state::machine gather(const std::wstring&) const override {
        if (fail) throw exceptions::error(112, "get_available_disk_space");
        sfx_event_state::machine m;
        m.now_ms = [] { return std::int64_t{1}; };
        m.hwid = std::string(64, '0');
        return m;
    }
};

struct holding_proxy : sfx_proxy_parser_intf {
    http::ProxySettings held;
    bool has_settings() const override { return true; }
    const http::ProxySettings& settings() const override { return held; }
};

struct Reporting : ::testing::Test {
    std::shared_ptr<recording_http> http = std::make_shared<recording_http>();
    std::shared_ptr<fixed_facts> facts = std::make_shared<fixed_facts>();
    sfx_reporting make(std::shared_ptr<sfx_proxy_parser_intf> proxy = nullptr) {
        return sfx_reporting(std::move(proxy), {http, facts, L"https://127.0.0.1/v4/receive/json/25"});
    }
};

TEST_F(Reporting, EventsGoToTheReportUrlOnceOneIsKnown) {
    auto r = make();
    r.set_title(L"Veltro Studio");
    r.send("sfx-start");
    r.set_report_url(L"http://127.0.0.1:8080/collect/here?x=1");
    r.set_ret_code(44080);
    r.send("sfx-finish");
    ASSERT_EQ(http->posts.size(), 2u);
    const auto& first = http->posts[0];
    EXPECT_EQ(first.access, net::access::no_proxy);
    EXPECT_EQ(first.resolve_timeout, 15000u);
    EXPECT_FALSE(first.proxy_set);
    EXPECT_EQ(first.target.scheme, "https");
    EXPECT_EQ(first.target.host, "127.0.0.1");
    EXPECT_EQ(first.target.path, "/v4/receive/json/25");
    EXPECT_NE(first.body.find(R"("stage":"sfx-start","title":"Veltro Studio"})"), std::string::npos);
    const auto& second = http->posts[1];
    EXPECT_EQ(second.target.host, "127.0.0.1");
    EXPECT_EQ(second.target.port, 8080);
    EXPECT_EQ(second.target.path, "/collect/here");
    EXPECT_NE(second.body.find(R"("finish_state":{"reboot":"","ret_code":"44080"})"), std::string::npos);
}

TEST_F(Reporting, TheUsersProxyCarriesTheEvents) {
    auto proxy = std::make_shared<holding_proxy>();
    proxy->held.proxy_type = 2;
    auto r = make(proxy);
    r.send("sfx-start");
    ASSERT_EQ(http->posts.size(), 1u);
    EXPECT_TRUE(http->posts[0].proxy_set);
}

// A refusing endpoint, a failed disk query or a URL that cannot be cracked
// is logged; the run goes on.
TEST_F(Reporting, NothingThatGoesWrongReachesTheRun) {
    auto r = make();
    http->status = 500;
    {
        test::log_capture log;
        EXPECT_NO_THROW(r.send("sfx-preparing"));
        EXPECT_TRUE(log.has(log::level_warning, "Sent report, status code:'500'."));
    }
    http->status = 0;
    {
        test::log_capture log;
        r.send("sfx-preparing");
        EXPECT_TRUE(log.has(log::level_warning, "Sent report, status code:'0'."));
    }
    facts->fail = true;
    {
        test::log_capture log;
        EXPECT_NO_THROW(r.send("sfx-fail"));
        EXPECT_TRUE(log.has_containing(log::level_error, "Send report fail."));
        EXPECT_TRUE(log.has_containing(log::level_error, "get_available_disk_space"));
    }
    EXPECT_EQ(http->posts.size(), 2u) << "an event whose facts failed is not sent";
    facts->fail = false;
    r.set_report_url(L"not a url");
    {
        test::log_capture log;
        EXPECT_NO_THROW(r.send("sfx-fail"));
        EXPECT_TRUE(log.has_containing(log::level_error, "Send report fail."));
    }
    EXPECT_EQ(http->posts.size(), 2u);
}

// The process entry, where it cannot harden the DLL search, points the
// loader's record of the executable at a file that does not exist; the
// version fields must not depend on that record.
struct loader_record_renamed {
    UNICODE_STRING* name = nullptr;
    UNICODE_STRING saved{};
    wchar_t decoy[64] = L"C:\\windows\\system32\\b86362a5.exe";
    loader_record_renamed() {
        LIST_ENTRY* first = NtCurrentTeb()->ProcessEnvironmentBlock->Ldr->InMemoryOrderModuleList.Flink;
        name = &CONTAINING_RECORD(first, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks)->FullDllName;
        saved = *name;
        name->Buffer = decoy;
        name->Length = static_cast<USHORT>(wcslen(decoy) * sizeof(wchar_t));
        name->MaximumLength = static_cast<USHORT>(name->Length + sizeof(wchar_t));
    }
    ~loader_record_renamed() { *name = saved; }
};

// This machine's facts: what wine64 gives, in the shapes the document needs.
TEST(MachineFacts, ThisMachine) {
    {
        const loader_record_renamed renamed;
        wchar_t seen[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, seen, MAX_PATH);
        ASSERT_STREQ(seen, renamed.decoy);
        const auto m = sfx_machine_facts().gather(L"");
        EXPECT_EQ(m.sfx_version, "1.2.3.4");
        EXPECT_EQ(m.product_version, "1.2.3-test");
    }
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const auto m = sfx_machine_facts().gather(std::wstring(temp) + L"qzr-facts");
    ASSERT_TRUE(m.now_ms);
    const std::int64_t t = m.now_ms();
    EXPECT_GT(t, 1767225600000) << "after 2026-01-01";
    EXPECT_EQ(m.request_id.size(), 36u);
    EXPECT_NE(m.request_id, sfx_machine_facts().gather(L"").request_id);
    EXPECT_GT(m.memory_mib, 0u);
    EXPECT_GT(m.processors, 0u);
    ASSERT_TRUE(m.available_mib.has_value());
    EXPECT_GT(*m.available_mib, 0u);
    EXPECT_EQ(m.hwid.size(), 64u);
    EXPECT_EQ(m.hwid.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_FALSE(m.architecture.empty());
    EXPECT_EQ(m.architecture.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos);
    EXPECT_FALSE(sfx_machine_facts().gather(L"").available_mib.has_value());
    EXPECT_THROW(sfx_machine_facts().gather(L"Q:\\no\\such\\volume"), exceptions::error);
    EXPECT_EQ(default_report_url(), L"https://127.0.0.1/v4/receive/json/25");
}

}  // namespace
