#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#ifdef _WIN32
#include <windows.h>
#endif

#include "../support/log_capture.hpp"
#include "framework/errors.hpp"
#include "framework/utf.hpp"
#include "veltro_sfx_lib/description/product_info_parser.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"

using namespace qzr;
using namespace qzr::sfx;

namespace {

struct x64_workstation : repository::conditions::host_facts_intf {
    environment::os_record record;
    x64_workstation() {
        record.major = 10;
        record.build = 19045;
        record.native_platform = environment::platform::x64;
    }
    const environment::os_record& os() const override { return record; }
    std::optional<repository::conditions::brand> stub_brand() const override { return std::nullopt; }
    std::optional<std::uint32_t> file_attributes(const std::wstring&) const override { return std::nullopt; }
    bool device_exists(const std::wstring&) const override { return false; }
    std::uint64_t file_size(const std::wstring&) const override { return 0; }
};

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

const std::string document = R"(<?xml version="1.0" encoding="utf-8"?>
<product-info>
  <name>Demo</name>
  <version>2.1.0.7</version>
  <setup-files>
    <conditions><os platform="x64"/></conditions>
    <file><name>veltro.exe</name><sha-256>AA</sha-256><timestamp>1700000000</timestamp><size>1000</size></file>
    <file>
      <conditions><boolean value="true"/></conditions>
      <conditions2><boolean value="false"/></conditions2>
      <name>left-out.bin</name>
    </file>
    <file><sha-256>BB</sha-256><timestamp>soon</timestamp><size></size></file>
  </setup-files>
  <setup-files>
    <conditions><os platform="arm64"/></conditions>
    <file><name>arm.bin</name></file>
  </setup-files>
  <setup-files>
    <conditions><frobnicate/><os-at-least major="10"/></conditions>
    <file><name>second-group.bin</name><size>-5</size></file>
  </setup-files>
  <setup-commands executable="never.exe"><conditions><boolean value="false"/></conditions></setup-commands>
  <setup-commands executable="veltro.exe" arguments="/a"><conditions><equals left="%VELTRO_IS_SFX%" right="1"/></conditions></setup-commands>
  <setup-commands executable="later.exe"/>
</product-info>
)";

class ProductInfo : public ::testing::Test {
protected:
    sfx_data_holder context;
    std::shared_ptr<value_holder> params = std::make_shared<value_holder>();
    void SetUp() override {
        context.params = params;
        context.command = std::make_shared<command_line>(L"", false);
    }
    std::unique_ptr<product_info_parser> parser() {
        return std::make_unique<product_info_parser>(context, std::make_shared<x64_workstation>());
    }
};

}  // namespace

// Each group and each file is logged with the rule that decided.
TEST_F(ProductInfo, FilesOfApplicableGroupsInDocumentOrder) {
    auto p = parser();
    test::log_capture log;
    p->parse_data(bytes_of(document));
    for (const char* line : {
             "Setup files group 1: applied (every condition holds)",
             "Setup file 'veltro.exe': applied (no conditions)",
             "Setup file 'left-out.bin': not applied (<boolean value=\"false\"/> in conditions2)",
             "Setup file '': applied (no conditions)",
             "Setup files group 2: not applied (<os platform=\"arm64\"/> in conditions)",
             "Setup file 'arm.bin': not applied (its group is not applied)",
             "Setup files group 3: applied (every condition holds)",
         })
        EXPECT_TRUE(log.has(qzr::log::level_debug, line));
    const auto& files = p->get_setup_files();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, L"veltro.exe");
    EXPECT_EQ(files[0].sha256, L"AA");
    EXPECT_EQ(files[0].timestamp, 1700000000);
    EXPECT_EQ(files[0].size, 1000);
    EXPECT_EQ(files[1].name, L"") << "a file without name is kept for the caller to refuse";
    EXPECT_EQ(files[1].timestamp, 0);
    EXPECT_EQ(files[1].size, 0);
    EXPECT_EQ(files[2].name, L"second-group.bin") << "the unknown condition is skipped";
    EXPECT_EQ(files[2].size, -5);
    EXPECT_EQ(p->get_product_info().name, L"Demo");
    EXPECT_EQ(p->get_product_info().version, L"2.1.0.7");
    EXPECT_TRUE(p->get_product_info().arm64);
}

// The candidates are logged as they are judged, each decision once however
// often the element is asked for.
TEST_F(ProductInfo, TheFirstApplicableSetupCommands) {
    auto p = parser();
    p->parse_data(bytes_of(document));
    {
        test::log_capture log;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(std::wstring(p->get_setup_commands().attribute(L"executable").value()), L"veltro.exe");
        std::size_t judged = 0;
        for (const auto& l : log.lines()) judged += l.message.rfind("Setup commands ", 0) == 0;
        EXPECT_EQ(judged, 2u);
        EXPECT_TRUE(log.has(qzr::log::level_debug, "Setup commands 1 (executable 'never.exe'): not applied "
                                                    "(<boolean value=\"false\"/> in conditions)"));
        EXPECT_TRUE(log.has(qzr::log::level_debug, "Setup commands 2 (executable 'veltro.exe'): applied "
                                                    "(every condition holds)"));
    }

    test::log_capture log;
    auto none = parser();
    none->parse_data(bytes_of("<product-info><setup-commands><conditions><equals/></conditions></setup-commands>"
                              "</product-info>"));
    EXPECT_FALSE(none->get_setup_commands());
    EXPECT_TRUE(log.has(qzr::log::level_error, "The <setup-commands> element is not presented in product-info.xml!"));
    EXPECT_FALSE(none->get_product_info().arm64);
    EXPECT_EQ(none->get_product_info().name, L"");
}

TEST_F(ProductInfo, ArmFlagNeedsBothTestsAnywhere) {
    auto p = parser();
    p->parse_data(bytes_of("<product-info><x><file><name>pre-veltro.exe-post</name></file></x>"
                           "<y><os platform='arm64'/></y></product-info>"));
    EXPECT_TRUE(p->get_product_info().arm64);
    auto q = parser();
    q->parse_data(bytes_of("<product-info><file><name>setup.exe</name></file><os platform='arm64'/></product-info>"));
    EXPECT_FALSE(q->get_product_info().arm64);
    // The name's whole text counts, and only the file's first name.
    auto split = parser();
    split->parse_data(bytes_of("<product-info><file><name>velt<b>ro</b><![CDATA[.exe]]></name></file>"
                               "<os platform='x64'/><os platform='arm64'/></product-info>"));
    EXPECT_TRUE(split->get_product_info().arm64);
    auto second = parser();
    second->parse_data(bytes_of("<product-info><file><name>a.exe</name><name>veltro.exe</name></file>"
                                "<os platform='arm64'/></product-info>"));
    EXPECT_FALSE(second->get_product_info().arm64);
}

TEST_F(ProductInfo, SilentVariable) {
    const auto silent_of = [&] {
        auto p = parser();
        const auto c = p->create_context();
        return c->expander->expand(std::wstring(L"%VELTRO_IS_SILENT%"));
    };
    EXPECT_EQ(silent_of(), L"0");
    params->set_bool(L"silent", true);
    EXPECT_EQ(silent_of(), L"1") << "silent from the sfx-info document";
    context.command = std::make_shared<command_line>(L"/SILENT", false);
    EXPECT_EQ(silent_of(), L"0") << "the stub's own switch";
    auto p = parser();
    const auto c = p->create_context();
    EXPECT_EQ(c->expander->expand(std::wstring(L"%VELTRO_IS_MASTER%")), L"1");
    EXPECT_EQ(c->expander->expand(std::wstring(L"%VELTRO_IS_MAIN_PRODUCT%")), L"1");
}

TEST_F(ProductInfo, EmptyAndMalformedDocuments) {
    auto p = parser();
    try {
        p->parse_data({});
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_STREQ(e.what(), "Product-info data are empty.");
    }
    test::log_capture log;
    try {
        p->parse_data(bytes_of("<product-info><name>x</product-info>"));
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_STREQ(e.what(), "Product-info data can't be parsed.");
    }
    EXPECT_TRUE(log.has_containing(qzr::log::level_error, "Failed to parse product-info data, "));
    EXPECT_TRUE(p->get_setup_files().empty());
}

TEST_F(ProductInfo, AFailedParseKeepsTheLastGoodDocument) {
    auto p = parser();
    const auto good = bytes_of(document);
    p->parse_data(good);
    EXPECT_THROW(p->parse_data(bytes_of("<product-info><name>x</product-info>")), qzr::exceptions::error);
    EXPECT_THROW(p->parse_data(bytes_of("<product-info><name>Other</name><setup-files><conditions>"
                                        "<os major='99999999999'/></conditions></setup-files></product-info>")),
                 repository::conditions::narrowing_error);
    ASSERT_EQ(p->get_setup_files().size(), 3u);
    EXPECT_EQ(p->get_setup_files().front().name, L"veltro.exe");
    EXPECT_EQ(p->get_product_info().name, L"Demo");
    EXPECT_EQ(std::wstring(p->get_setup_commands().attribute(L"executable").value()), L"veltro.exe");
}

TEST_F(ProductInfo, CommentsAndTextAmongConditionsAreSkippedWithAWarning) {
    test::log_capture log;
    auto p = parser();
    p->parse_data(bytes_of("<product-info><setup-files><file><name>a.bin</name>"
                           "<conditions><!-- x64 only --><os platform='x64'/>stray</conditions></file>"
                           "<file><name>b.bin</name><conditions><!-- none --></conditions></file>"
                           "</setup-files></product-info>"));
    ASSERT_EQ(p->get_setup_files().size(), 2u) << "what is skipped does not decide";
    std::size_t warnings = 0;
    for (const auto& line : log.lines())
        if (line.level == qzr::log::level_warning && line.message == "Unable to parse element '' as a condition!")
            ++warnings;
    EXPECT_EQ(warnings, 3u) << "a comment and a text in the first file, a comment in the second";
}

TEST_F(ProductInfo, NarrowingInConditionsIsNotAbsorbed) {
    auto p = parser();
    EXPECT_THROW(p->parse_data(bytes_of("<product-info><setup-files><conditions><os major='99999999999'/>"
                                        "</conditions></setup-files></product-info>")),
                 repository::conditions::narrowing_error);
}

TEST_F(ProductInfo, SaveWritesTheBytesAsReceived) {
    auto p = parser();
    const auto data = bytes_of(document);
    p->parse_data(data);
#ifdef _WIN32
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring target = std::wstring(tmp) + L"product-info-test.xml";
#else
    const std::wstring target = L"/tmp/product-info-test.xml";
#endif
    p->save(target);
    std::ifstream in(utf::to_utf8(target), std::ios::binary);
    const std::string back(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(back, document);
    std::remove(utf::to_utf8(target).c_str());
}
