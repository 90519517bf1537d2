#include <gtest/gtest.h>

#include "veltro_sfx_lib/reporting/sfx_event.hpp"

namespace {

using namespace qzr::sfx;

sfx_event_state::machine fixed_machine() {
    sfx_event_state::machine m;
    std::int64_t t = 1796755000000;
    m.now_ms = [t]() mutable { return t++; };
    m.request_id = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
    m.sfx_version = "1.4.0.0";
    m.memory_mib = 16384;
    m.processors = 8;
    m.workstation = true;
    m.available_mib = 51200;
    m.hwid = std::string(32, 'A') + std::string(32, '0');
    m.architecture = "AMD64";
    m.major = 10;
    m.minor = 0;
    m.build = 19045;
    m.ui_language = 1031;
    m.time_zone_bias = -60;
    m.product_version = "1.4.0";
    return m;
}

// A whole document for a known state, byte for byte: keys in their order,
// no spaces, both times taken in turn.
TEST(EventDocument, WholeDocumentForAKnownState) {
    sfx_event_state s;
    s.set_temp_path(L"C:\\Windows\\Temp\\qzr-1");
    s.set_edition(true);
    s.set_aiid(L"cookie-1");
    s.set_session_id(L"{8d6f}");
    s.set_title(L"Veltro Studio");
    s.add_main_product(L"studio", L"release", false);
    s.set_trigger(L"explorer.exe");
    s.set_cmdline(L"\"C:\\setup.exe\" /silent");
    s.set_reboot(true);
    s.set_ret_code(44080);
    EXPECT_EQ(s.document("sfx-finish", fixed_machine()),
              R"({"record":[{"event":{"type":25,"subtype":1,"request_id":"0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0",)"
              R"("time":1796755000000},"setup":{"common":{"operation":"install","session_id":"{8d6f}",)"
              R"("stage":"sfx-finish","title":"Veltro Studio"},"finish_state":{"reboot":"1","ret_code":"44080"},)"
              R"("config":{"main_products":[{"product":"studio","channel":"release"}],"sfx_ver":"1.4.0.0",)"
              R"("trigger":"explorer.exe","cmdline":"\"C:\\setup.exe\" /silent"},"system":{"memory":16384,)"
              R"("processors":8,"workstation":true,"hdd":{"available":51200}}},"identity":{"hwid":")" +
                  std::string(32, 'A') + std::string(32, '0') +
                  R"("},"installation":{"action":"INSTALL","aiid":"cookie-1","time":1796755000001},)"
                  R"("platform":{"architecture":"AMD64","os":"WINDOWS","version":"10.0","build":"19045",)"
                  R"("lang":"de-DE","time_zone":-60},"product":{"edition":2,"id":9999,"version_app":"1.4.0"}}]})");
}

TEST(EventDocument, OptionalPartsAppearOnlyWhenSet) {
    sfx_event_state s;
    auto m = fixed_machine();
    m.workstation = false;
    std::string d = s.document("sfx-start", m);
    EXPECT_EQ(d.find("finish_state"), std::string::npos);
    // Without a temporary folder there is no disk figure, and workstation
    // closes the system object.
    EXPECT_NE(d.find(R"("workstation":false}})"), std::string::npos);
    EXPECT_NE(d.find(R"("operation":"install")"), std::string::npos);
    EXPECT_NE(d.find(R"("main_products":[])"), std::string::npos);
    EXPECT_NE(d.find(R"("edition":1)"), std::string::npos);

    s.set_ret_code(0);
    d = s.document("sfx-finish", m);
    EXPECT_NE(d.find(R"("title":""},"finish_state":{"reboot":"","ret_code":"0"},"config")"), std::string::npos);
    s.set_ret_code(-1);
    s.set_operation("clear");
    d = s.document("sfx-fail", m);
    EXPECT_NE(d.find(R"("ret_code":"-1")"), std::string::npos);
    EXPECT_NE(d.find(R"("operation":"clear")"), std::string::npos);
}

TEST(EventDocument, EveryStringIsEscaped) {
    EXPECT_EQ(escape_event_text("a\"b\\c"), R"(a\"b\\c)");
    EXPECT_EQ(escape_event_text("one\ntwo\r\nthree"), "one|two|three");
    EXPECT_EQ(escape_event_text("\b\t\f"), R"(\b\t\f)");
    EXPECT_EQ(escape_event_text(std::string("\x01\x1f\x00z", 4)), R"(\u0001\u001f\u0000z)");
    EXPECT_EQ(escape_event_text("\x7f \xc3\xa4 \xe4\xb8\xad"), "\x7f \xc3\xa4 \xe4\xb8\xad");

    sfx_event_state s;
    s.set_title(L"Say \"hi\"\nnow");
    s.set_session_id(L"tab\there");
    s.set_cmdline(L"C:\\a b\\setup.exe /x:\u00e4");
    const std::string d = s.document("sfx-\"start", fixed_machine());
    EXPECT_NE(d.find(R"("title":"Say \"hi\"|now")"), std::string::npos);
    EXPECT_NE(d.find(R"("session_id":"tab\there")"), std::string::npos);
    EXPECT_NE(d.find("\"cmdline\":\"C:\\\\a b\\\\setup.exe /x:\xc3\xa4\""), std::string::npos);
    EXPECT_NE(d.find(R"("stage":"sfx-\"start")"), std::string::npos);
}

// Product names and channels come from the command line and sfx-info: a
// quote or backslash in them is escaped, not pasted into the document.
TEST(EventDocument, MainProductsAppendAndReset) {
    sfx_event_state s;
    s.add_main_product(L"studio", L"release", false);
    s.add_main_product(L"addon", L"be\"ta\\1", false);
    auto d = s.document("sfx-preparing", fixed_machine());
    EXPECT_NE(d.find(R"("main_products":[{"product":"studio","channel":"release"},)"
                     R"({"product":"addon","channel":"be\"ta\\1"}])"),
              std::string::npos);
    s.add_main_product(L"only", L"beta", true);
    d = s.document("sfx-preparing", fixed_machine());
    EXPECT_NE(d.find(R"("main_products":[{"product":"only","channel":"beta"}])"), std::string::npos);
}

TEST(EventDocument, LanguageTags) {
    EXPECT_EQ(event_language_tag(1033), "en-US");
    EXPECT_EQ(event_language_tag(2057), "en-GB");
    EXPECT_EQ(event_language_tag(3084), "fr-CA");
    EXPECT_EQ(event_language_tag(2074), "sr-SP");
    EXPECT_EQ(event_language_tag(1028), "zh-TW");
    EXPECT_EQ(event_language_tag(1234), "en-US");
    EXPECT_EQ(event_language_tag(0), "en-US");
}

}  // namespace
