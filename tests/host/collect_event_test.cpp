// The receiver's check of a posted document: the stub's own documents pass
// with every field where a report looks for it; anything the stub would never
// write is refused whole, whatever the sender chose to put in it.
#include <gtest/gtest.h>

#include "../support/stub_events.hpp"
#include "event_record.hpp"

namespace {

using namespace qzr;
using collect::parse_event;
using collect::refusal;

TEST(CollectEvent, TheStubsOwnDocumentsAreRead) {
    test::stub_run run;
    run.title = L"Quote \" and <script>alert(1)</script>\nnext";
    auto start = parse_event(test::stub_event("sfx-start", run));
    ASSERT_EQ(start.refused, refusal::none) << start.reason;
    const auto& s = start.record;
    EXPECT_EQ(s.stage, "sfx-start");
    EXPECT_EQ(s.session_id, "0f1e2d3c-4b5a-4978-8796-a5b4c3d2e1f0");
    EXPECT_EQ(s.request_id, "00000000-0000-4000-8000-000000000001");
    EXPECT_EQ(s.title, "Quote \" and <script>alert(1)</script>|next");
    EXPECT_FALSE(s.ret_code);
    EXPECT_FALSE(s.reboot);
    EXPECT_EQ(s.product, "studio");
    EXPECT_EQ(s.channel, "release");
    EXPECT_EQ(s.product_count, 1);
    EXPECT_EQ(s.os_version, "10.0");
    EXPECT_EQ(s.os_build, 19045);
    EXPECT_EQ(s.architecture, "AMD64");
    EXPECT_EQ(s.language, "en-US");
    EXPECT_EQ(s.sfx_version, "1.0.0.1");
    EXPECT_EQ(s.app_version, "24.1.0.0");
    EXPECT_EQ(s.event_ms, 1796755000000);
    EXPECT_EQ(s.disk_available_mib, 51200);
    EXPECT_EQ(s.time_zone, -60);
    EXPECT_EQ(s.cmdline, "\"C:\\Users\\u\\Downloads\\setup.exe\" /silent");

    for (const std::int32_t code : {0, 44080, -1, 2147483647, -2147483647 - 1}) {
        run.ret_code = code;
        run.reboot = code == 44080;
        const auto finish = parse_event(test::stub_event("sfx-finish", run));
        ASSERT_EQ(finish.refused, refusal::none) << code << ": " << finish.reason;
        EXPECT_EQ(finish.record.ret_code, code);
        EXPECT_EQ(finish.record.reboot, code == 44080);
    }
}

// Each row changes one thing in a valid document.
TEST(CollectEvent, WhatTheStubNeverWritesIsRefused) {
    test::stub_run run;
    run.ret_code = 0;
    const std::string valid = test::stub_event("sfx-finish", run);
    ASSERT_EQ(parse_event(valid).refused, refusal::none);
    struct row {
        const char* what;
        std::string from, to;
        refusal expected;
    };
    const row rows[] = {
        {"cut short", valid, valid.substr(0, valid.size() - 1), refusal::not_json},
        {"not UTF-8", "Veltro Studio", "Veltro \xff Studio", refusal::not_json},
        {"empty body", valid, "", refusal::not_json},
        {"a bare array", valid, "[" + valid + "]", refusal::wrong_shape},
        {"two records", "\"record\":[{", "\"record\":[{},{", refusal::wrong_shape},
        {"other event type", "\"type\":25", "\"type\":26", refusal::wrong_shape},
        {"type as text", "\"type\":25", "\"type\":\"25\"", refusal::wrong_shape},
        {"a key twice", "\"type\":25", "\"type\":25,\"type\":25", refusal::wrong_shape},
        {"time as a fraction", "\"time\":1796755000000", "\"time\":1796755000000.5", refusal::wrong_shape},
        {"negative memory", "\"memory\":16384", "\"memory\":-1", refusal::wrong_shape},
        {"no hwid", "\"hwid\"", "\"hw_id\"", refusal::wrong_shape},
        {"lower-case hwid", std::string(32, 'A'), std::string(32, 'a'), refusal::wrong_shape},
        {"short request id", "000000000001\"", "00000000001\"", refusal::wrong_shape},
        {"ret_code with a letter", "\"ret_code\":\"0\"", "\"ret_code\":\"0x0\"", refusal::wrong_shape},
        {"ret_code past 32 bits", "\"ret_code\":\"0\"", "\"ret_code\":\"2147483648\"", refusal::wrong_shape},
        {"ret_code with a leading zero", "\"ret_code\":\"0\"", "\"ret_code\":\"00\"", refusal::wrong_shape},
        {"reboot neither 1 nor empty", "\"reboot\":\"\"", "\"reboot\":\"yes\"", refusal::wrong_shape},
        {"a NUL in the title", "Veltro Studio", "Veltro\\u0000Studio", refusal::wrong_shape},
        {"a stage with a space", "\"stage\":\"sfx-finish\"", "\"stage\":\"sfx finish\"", refusal::wrong_shape},
        {"no stage", "\"stage\":\"sfx-finish\"", "\"stage\":\"\"", refusal::wrong_shape},
        {"a product that is not an object", "\"main_products\":[{", "\"main_products\":[1,{", refusal::wrong_shape},
        {"workstation as a number", "\"workstation\":true", "\"workstation\":1", refusal::wrong_shape},
        {"os version without minor", "\"version\":\"10.0\"", "\"version\":\"10\"", refusal::wrong_shape},
        {"build with a sign", "\"build\":\"19045\"", "\"build\":\"-19045\"", refusal::wrong_shape},
        {"time zone a week off", "\"time_zone\":-60", "\"time_zone\":-10080", refusal::wrong_shape},
        {"a title of 17 KiB", "Veltro Studio", std::string(17 * 1024, 'x'), refusal::wrong_shape},
        {"a session id of 129 bytes", "0f1e2d3c-4b5a-4978-8796-a5b4c3d2e1f0", std::string(129, 's'),
         refusal::wrong_shape},
    };
    for (const auto& r : rows) {
        std::string body = valid;
        const auto at = body.find(r.from);
        ASSERT_NE(at, std::string::npos) << r.what;
        body.replace(at, r.from.size(), r.to);
        const auto result = parse_event(body);
        EXPECT_EQ(result.refused, r.expected) << r.what << ": " << result.reason;
        EXPECT_FALSE(result.reason.empty() && result.refused != refusal::none) << r.what;
    }
    // Keys the stub does not write are no reason to refuse, nor is key order.
    std::string extra = valid;
    extra.replace(extra.find("\"product\":{"), 11, "\"future\":[1,2],\"product\":{");
    EXPECT_EQ(parse_event(extra).refused, refusal::none);
}

}  // namespace
