#include <gtest/gtest.h>

#include <map>

#include "../support/log_capture.hpp"
#include "../support/memory_payload.hpp"
#include "framework/errors.hpp"
#include "veltro_sfx/outcome.hpp"
#include "veltro_sfx_lib/description/sfx_info_parser.hpp"
#include "veltro_sfx_lib/description/veltro_info.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"

using namespace qzr;
using namespace qzr::sfx;

namespace {

using test::memory_payload;

// Documents "signed" for these tests end with this comment.
struct marker_verifier_factory : verify_signature_intf::factory {
    struct verifier : verify_signature_intf {
        bool dsa_signed_handle(void*) override { return false; }
        bool dsa_signed(const std::wstring&) override { return false; }
        bool dsa_signed_any(const std::wstring&) override { return false; }
        bool dsa_signed_block(const std::uint8_t* d, std::size_t n) override {
            const std::string text(reinterpret_cast<const char*>(d), n);
            return text.size() >= 11 && text.substr(text.size() - 11) == "<!--ok-->\r\n";
        }
        bool dsa_signed_source(qzr::byte_source&) override { return false; }
    };
    std::shared_ptr<verify_signature_intf> create() const override { return std::make_shared<verifier>(); }
};

const std::string sample = R"(<?xml version="1.0" encoding="utf-8"?>
<sfx-info xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="sfx-info.xsd">
  <products>
    <product name="suite" channel="beta" version="1.2"/>
    <product name="tool" channel="release" version="3.0.1.7">
      <sub-products><product channel="stable" version="9.9"/></sub-products>
    </product>
  </products>
  <repository><base-url>https://repo.example/files/</base-url></repository>
  <report><url>https://report.example/e</url></report>
  <params><silent>yes</silent><nosplash>0</nosplash><clear>True</clear></params>
  <title lang="de-de">Erster</title>
  <title lang="de-de">Zweiter</title>
  <title>English</title>
  <title lang="xx-yy">Second English</title>
  <eula><url>https://eula.example</url></eula>
</sfx-info>
<!--ok-->
)";

std::string crlf_signed(std::string doc) {
    doc.pop_back();
    return doc + "\r\n";
}

class SfxInfo : public ::testing::Test {
protected:
    std::shared_ptr<memory_payload> payload = std::make_shared<memory_payload>();
    std::shared_ptr<veltro_info> info = std::make_shared<veltro_info>();
    sfx_data_holder context;

    void SetUp() override {
        context.params = std::make_shared<value_holder>();
        context.payload = payload;
        context.info = info;
        command(L"");
        payload->entries[L"sfx-info.xml"] = crlf_signed(sample);
    }
    void command(const std::wstring& text) { context.command = std::make_shared<command_line>(text, false); }
    info_parser parser() { return info_parser(context, std::make_shared<marker_verifier_factory>()); }
};

}  // namespace

TEST_F(SfxInfo, ValuesTitlesAndTheHandOverCopy) {
    auto p = parser();
    p.load();
    EXPECT_EQ(p.base_url(), L"https://repo.example/files/");
    EXPECT_EQ(p.report_url(), L"https://report.example/e");
    EXPECT_TRUE(p.silent());
    EXPECT_FALSE(p.nosplash());
    EXPECT_TRUE(p.clear());
    EXPECT_EQ(p.title(1031), L"Erster");
    EXPECT_EQ(p.title(1036), L"English");
    EXPECT_EQ(p.title(1033), L"English") << "a title without lang is US English; the first one wins";
    ASSERT_EQ(p.products().size(), 2u);
    EXPECT_EQ(p.products()[0].name, L"suite");
    EXPECT_EQ(p.products()[0].channel, L"beta");
    EXPECT_EQ(p.products()[1].version, L"3.0.1.7");

    const std::string doc = info->to_string();
    const auto at = [&](const char* s) { return doc.find(s); };
    EXPECT_LT(at("<products>"), at("<repository>"));
    EXPECT_LT(at("<repository>"), at("<report>"));
    EXPECT_LT(at("<title lang=\"de-de\">Zweiter"), at("<eula>"));
    EXPECT_EQ(at("sfx-info.xsd"), std::string::npos) << "children only, not the root's attributes";
}

TEST_F(SfxInfo, TitlesWithoutEnglish) {
    payload->entries[L"sfx-info.xml"] =
        crlf_signed("<sfx-info><products><product name='a'/></products><title lang='de-de'>D</title></sfx-info>\n"
                    "<!--ok-->\n");
    auto p = parser();
    p.load();
    EXPECT_EQ(p.title(1033), L"");
    EXPECT_EQ(p.title(1031), L"D");
    EXPECT_FALSE(p.silent());
    EXPECT_EQ(p.base_url(), L"");
    EXPECT_EQ(p.products()[0].channel, L"");
}

TEST_F(SfxInfo, NoUpdatePinsChannelsAndOverridesWin) {
    command(L"/noupdate /channels:suite=nightly;tool=x;tool=y");
    auto p = parser();
    p.load();
    EXPECT_EQ(p.products()[0].channel, L"nightly");
    EXPECT_EQ(p.products()[1].channel, L"y") << "a later piece replaces an earlier one";
    const std::string doc = info->to_string();
    EXPECT_NE(doc.find("name=\"suite\" channel=\"1/2/beta\""), std::string::npos) << "the copy keeps the pin";
    EXPECT_NE(doc.find("name=\"tool\" channel=\"y\""), std::string::npos) << "with sub-products, the final channel";

    command(L"/noupdate");
    auto q = parser();
    q.load();
    EXPECT_EQ(q.products()[0].channel, L"1/2/beta");
    EXPECT_EQ(q.products()[1].channel, L"3/0/1/7/release");
}

// Only a sub-product makes the copy carry the parent's final channel: an
// empty sub-products element leaves the parent pinned, as if it were absent.
TEST_F(SfxInfo, EmptySubProductsLeaveTheParentPinned) {
    std::string doc = sample;
    const std::string with_sub = R"(<sub-products><product channel="stable" version="9.9"/></sub-products>)";
    doc.replace(doc.find(with_sub), with_sub.size(), "<sub-products/>");
    payload->entries[L"sfx-info.xml"] = crlf_signed(doc);
    command(L"/noupdate /channels:tool=y");
    auto p = parser();
    p.load();
    EXPECT_EQ(p.products()[1].channel, L"y");
    EXPECT_NE(info->to_string().find("name=\"tool\" channel=\"3/0/1/7/release\""), std::string::npos);
}

TEST_F(SfxInfo, MalformedChannelOverride) {
    command(L"/channels:a=b;c");
    try {
        parser().load();
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), 44030);
        EXPECT_STREQ(e.what(), "Channel override has wrong format.");
    }
}

TEST_F(SfxInfo, MissingUnsignedUnparsableAndEmpty) {
    test::log_capture log;
    payload->entries.clear();
    try {
        parser().load();
        FAIL();
    } catch (const sfx::exceptions::missign_sfx_file& e) {
        EXPECT_STREQ(e.what(), "sfx info file wasn't found in payload.");
        EXPECT_EQ(classify_failure(std::current_exception()).exit_code, 44051);
    }
    EXPECT_TRUE(log.has("Mandatory file 'sfx-info.xml' is missing in payload."));

    payload->entries[L"sfx-info.xml"] = sample;  // no signature comment
    try {
        parser().load();
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_STREQ(e.what(), "File is not DSA signed (alias:sfx-info.xml)!");
        EXPECT_EQ(e.code(), -1);
    }
    EXPECT_TRUE(log.has("DSA verification check of file 'sfx-info.xml' fail!"));

    payload->entries[L"sfx-info.xml"] = "this is not XML <<<\n<!--ok-->\r\n";
    try {
        parser().load();
        FAIL();
    } catch (const sfx::exceptions::missign_sfx_file& e) {
        EXPECT_STREQ(e.what(), "sfx info can't be parsed.");
    }
    EXPECT_TRUE(log.has_containing("Failed to parse xml file 'sfx-info.xml', '"));

    payload->entries[L"sfx-info.xml"] = "<sfx-info><products/></sfx-info>\n<!--ok-->\r\n";
    try {
        parser().load();
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_STREQ(e.what(), "The sfx-info.xml does not contain any product data!");
    }
}
