#include <gtest/gtest.h>

#include <map>
#include <set>

#include "../support/log_capture.hpp"
#include "framework/errors.hpp"
#include "repository/conditions/condition_kinds.hpp"

using namespace qzr;
using namespace qzr::repository;
using namespace qzr::repository::conditions;

namespace {

// A machine stated by the test.
struct stated_host : host_facts_intf {
    environment::os_record record;
    std::optional<brand> the_brand = brand::kavro;
    std::map<std::wstring, std::uint32_t> attributes;  // path -> attributes
    std::map<std::wstring, std::uint64_t> sizes;
    std::set<std::wstring> devices;
    mutable std::vector<std::wstring> asked;

    stated_host() {
        record.major = 10;
        record.minor = 0;
        record.build = 19045;
        record.product_type = environment::workstation;
        record.native_platform = environment::platform::x64;
    }
    const environment::os_record& os() const override { return record; }
    std::optional<brand> stub_brand() const override { return the_brand; }
    std::optional<std::uint32_t> file_attributes(const std::wstring& p) const override {
        asked.push_back(p);
        auto it = attributes.find(p);
        if (it == attributes.end()) return std::nullopt;
        return it->second;
    }
    bool device_exists(const std::wstring& p) const override {
        if (p == L"\\\\.\\Broken") throw exceptions::error(5, L"Unable to query file object '%ls'!", p);
        return devices.count(p) || attributes.count(p);
    }
    std::uint64_t file_size(const std::wstring& p) const override {
        auto it = sizes.find(p);
        if (it == sizes.end()) throw exceptions::error(2, "Unable to get file size!");
        return it->second;
    }
};

class Conditions : public ::testing::Test {
protected:
    std::shared_ptr<stated_host> host = std::make_shared<stated_host>();
    std::shared_ptr<light_expander> expander = std::make_shared<light_expander>();
    basic_context context;

    void SetUp() override {
        context.factory = make_condition_factory();
        context.expander = expander;
        context.host = host;
        expander->set(L"%VELTRO_IS_SFX%", L"1");
    }

    // The conditions element of a small document.
    bool eval(const std::wstring& inner, const std::wstring& root_attributes = L"") {
        pugi::xml_document doc;
        const std::wstring text = L"<conditions " + root_attributes + L">" + inner + L"</conditions>";
        EXPECT_TRUE(doc.load_string(text.c_str()));
        condition_root root;
        root.load(doc.first_child(), context);
        return root.evaluate(context);
    }

    std::string error_of(const std::wstring& inner) {
        try {
            eval(inner);
        } catch (const exceptions::error& e) {
            return e.what();
        }
        return "no error";
    }
};

}  // namespace

TEST_F(Conditions, RootDefaultAndEmptiness) {
    EXPECT_TRUE(eval(L""));
    EXPECT_FALSE(eval(L"", L"default='false'"));
    EXPECT_FALSE(eval(L"<boolean value='true'/>", L"default='false'"));
    EXPECT_TRUE(eval(L"<boolean value='true'/>", L"default='true'"));
    EXPECT_FALSE(eval(L"<boolean value='false'/>", L"default='true'"));
    EXPECT_TRUE(eval(L"<boolean value='true'/>", L"default='TRUE'")) << "only exact true/false count";
    condition_root none;
    none.load(pugi::xml_node(), context);
    EXPECT_TRUE(none.evaluate(context));
}

TEST_F(Conditions, ContainersShortCircuitInDocumentOrder) {
    EXPECT_TRUE(eval(L"<or><boolean value='true'/><equals/></or>")) << "the broken child is never reached";
    EXPECT_FALSE(eval(L"<and><boolean value='false'/><equals/></and>"));
    EXPECT_EQ(error_of(L"<and><boolean value='true'/><equals/></and>"),
              "The assertion failed for expression: m_left");
    EXPECT_TRUE(eval(L"<not><boolean value='false'/></not>"));
    EXPECT_EQ(error_of(L"<not><boolean value='false'/><boolean value='false'/></not>"),
              "not: The XML element is missing required attributes!");
    EXPECT_EQ(error_of(L"<or/>"), "or: The XML element is missing required attributes!");
}

TEST_F(Conditions, NegationOfEveryKind) {
    EXPECT_TRUE(eval(L"<not-not><boolean value='true'/></not-not>"));
    EXPECT_TRUE(eval(L"<not-and><boolean value='true'/><boolean value='false'/></not-and>"));
    EXPECT_FALSE(eval(L"<not-or><boolean value='true'/><boolean value='false'/></not-or>"));
    EXPECT_EQ(error_of(L"<not-and/>"), "and: The XML element is missing required attributes!");
    EXPECT_FALSE(eval(L"<not-boolean value='true'/>"));
    EXPECT_TRUE(eval(L"<not-equals left='1' right='2'/>"));
    EXPECT_TRUE(eval(L"<not-less-than left='2' right='2'/>"));
    EXPECT_TRUE(eval(L"<not-greater-than left='2' right='2'/>"));
    EXPECT_FALSE(eval(L"<not-starts-with string='Windows 10' prefix='win'/>"));
    EXPECT_TRUE(eval(L"<not-os major='6'/>"));
    EXPECT_FALSE(eval(L"<not-os-at-least major='10'/>"));
    EXPECT_TRUE(eval(L"<not-os-at-most major='6'/>"));
    EXPECT_TRUE(eval(L"<not-file path='C:\\none.txt' exists='true'/>"));
    EXPECT_FALSE(eval(L"<not-brand name='KAVRO'/>"));
}

TEST_F(Conditions, UnknownElementsAreSkippedOrReplaced) {
    test::log_capture log;
    EXPECT_EQ(error_of(L"<and><frobnicate/></and>"), "and: The XML element is missing required attributes!");
    EXPECT_TRUE(log.has(qzr::log::level_warning, "Unable to parse element 'frobnicate' as a condition!"));
    EXPECT_TRUE(eval(L"<or><frobnicate unsupported='true'/></or>"));
    EXPECT_TRUE(log.has(qzr::log::level_warning, "Unknown condition, but 'unsupported' attribute present:'true'"));
    EXPECT_FALSE(eval(L"<or><frobnicate unsupported='false'/></or>"));
    EXPECT_TRUE(eval(L"<AND><boolean value='false'/></AND>")) << "names are case-sensitive: AND is skipped";
    EXPECT_TRUE(eval(L"<!-- a note --><boolean value='true'/>text"));
}

TEST_F(Conditions, Comparisons) {
    EXPECT_FALSE(eval(L"<equals left='10' right='9'/>"));
    EXPECT_TRUE(eval(L"<greater-than left='10' right='9'/>")) << "numbers, not text";
    EXPECT_TRUE(eval(L"<less-than left='abc' right='ABD'/>"));
    EXPECT_TRUE(eval(L"<equals left='1.2' right='1.2.0.0' type='version'/>"));
    EXPECT_TRUE(eval(L"<greater-than left='1.10' right='1.9' type='VERSION'/>"));
    EXPECT_FALSE(eval(L"<greater-than left='1.10' right='1.9'/>")) << "text without the type";
    EXPECT_TRUE(eval(L"<equals left='%VELTRO_IS_SFX%' right='1'/>"));
    EXPECT_FALSE(eval(L"<equals left='x%VELTRO_IS_SFX%' right='x1'/>"));
    EXPECT_TRUE(eval(L"<equals left='' right=''/>"));
    EXPECT_TRUE(eval(L"<less-than left='ab' right='abc'/>"));
    EXPECT_TRUE(eval(L"<equals left=' -42' right='-42'/>"));
    EXPECT_TRUE(eval(L"<less-than left='-9223372036854775808' right='9223372036854775807'/>"));
    EXPECT_TRUE(eval(L"<equals left='x' right='X' type='other'/>")) << "other types are ignored";
    EXPECT_EQ(error_of(L"<equals right='1'/>"), "The assertion failed for expression: m_left");
    EXPECT_EQ(error_of(L"<equals left='1'/>"), "The assertion failed for expression: m_right");
}

TEST_F(Conditions, Prefixes) {
    EXPECT_TRUE(eval(L"<starts-with string='Windows 10' prefix='windows'/>"));
    EXPECT_TRUE(eval(L"<starts-with string='abc' prefix=''/>"));
    EXPECT_FALSE(eval(L"<starts-with string='ab' prefix='abc'/>"));
    EXPECT_EQ(error_of(L"<starts-with prefix='a'/>"), "The assertion failed for expression: m_str");
    EXPECT_EQ(error_of(L"<starts-with string='a'/>"), "The assertion failed for expression: m_prefix");
}

TEST_F(Conditions, Files) {
    host->attributes[L"C:\\app\\setup.exe"] = 0x20;
    host->attributes[L"C:\\app"] = 0x10;
    host->attributes[L"C:\\app\\empty.txt"] = 0x20;
    host->sizes[L"C:\\app\\setup.exe"] = 100;
    host->sizes[L"C:\\app\\empty.txt"] = 0;
    expander->set(L"%APP%", L"C:\\app\\setup.exe");
    EXPECT_TRUE(eval(L"<file path='C:\\app\\setup.exe' exists='true'/>"));
    EXPECT_TRUE(eval(L"<file path='%APP%' exists='true'/>"));
    EXPECT_FALSE(eval(L"<file path='C:\\app' exists='true'/>")) << "a folder is not a file";
    EXPECT_TRUE(eval(L"<file path='C:\\app' exists='true' type='device'/>"));
    EXPECT_TRUE(eval(L"<file path='C:\\app' exists='true' type='DEVICE'/>"));
    EXPECT_FALSE(eval(L"<file path='C:\\app' exists='true' type='pipe'/>"));
    EXPECT_TRUE(eval(L"<file path='C:\\gone' exists='false'/>"));
    EXPECT_TRUE(eval(L"<file path='C:\\app\\empty.txt' empty='true'/>"));
    EXPECT_FALSE(eval(L"<file path='C:\\app\\setup.exe' empty='true'/>"));
    EXPECT_TRUE(eval(L"<file path='C:\\app\\setup.exe' exists='true' empty='false'/>"));
    EXPECT_EQ(error_of(L"<file path='C:\\gone' empty='true'/>"), "Unable to get file size!");
    EXPECT_FALSE(eval(L"<file path='C:\\gone' exists='true' empty='true'/>"));
    test::log_capture log;
    EXPECT_FALSE(eval(L"<file path='\\\\.\\Broken' exists='true' type='device'/>"));
    EXPECT_TRUE(log.has_containing(qzr::log::level_warning, "Exception in 'exists' condition Unable to query file object"));
    EXPECT_EQ(error_of(L"<file path='C:\\x' empty='true' type='device'/>"),
              "The assertion failed for expression: !m_empty || m_type == L\"file\"");
    EXPECT_EQ(error_of(L"<file path='C:\\x'/>"), "The assertion failed for expression: m_exists || m_empty");
    EXPECT_EQ(error_of(L"<file path='' exists='true'/>"), "The assertion failed for expression: m_path && !m_path->empty()");
}

TEST_F(Conditions, OperatingSystems) {
    EXPECT_TRUE(eval(L"<os-at-least major='10' build='10000'/>"));
    EXPECT_FALSE(eval(L"<os-at-most major='6'/>"));
    EXPECT_TRUE(eval(L"<os major='10' minor='0'/>"));
    EXPECT_TRUE(eval(L"<os-at-least/>"));
    EXPECT_TRUE(eval(L"<os-at-most/>"));
    EXPECT_TRUE(eval(L"<os platform='X64' type='Workstation'/>"));
    EXPECT_FALSE(eval(L"<os platform='arm64'/>"));
    EXPECT_FALSE(eval(L"<os type='server'/>"));

    host->record.major = 6;
    host->record.minor = 1;
    host->record.sp_major = 2;
    host->record.build = 7601;
    EXPECT_TRUE(eval(L"<os-at-least major='6' sp='1' build='99999'/>")) << "the service pack decides first";
    EXPECT_FALSE(eval(L"<os-at-least major='6' minor='2'/>"));
    EXPECT_TRUE(eval(L"<os-at-most major='6' minor='1' sp='2' build='7601'/>"));

    host->record.native_platform = environment::platform::arm64;
    host->record.product_type = environment::domain_controller;
    EXPECT_TRUE(eval(L"<os platform='ARM64' type='server'/>"));
    host->record.native_platform = environment::platform::ia64;
    EXPECT_EQ(error_of(L"<os platform='x64'/>"), "The executable is running under unknown OS platform!");
    host->record.product_type = 9;
    EXPECT_EQ(error_of(L"<os type='server'/>"), "The executable is running under unknown OS type!");
}

TEST_F(Conditions, BooleansAreExactlyTrueOrFalse) {
    EXPECT_EQ(error_of(L"<boolean value='TRUE'/>"), "The assertion failed for expression: m_value");
    EXPECT_EQ(error_of(L"<boolean value='1'/>"), "The assertion failed for expression: m_value");
    EXPECT_EQ(error_of(L"<file path='C:\\x' exists='yes'/>"), "The assertion failed for expression: m_exists || m_empty");
}

TEST_F(Conditions, NumbersMustBeWholeAndFitThirtyTwoBits) {
    EXPECT_TRUE(eval(L"<os major=' +10'/>"));
    EXPECT_TRUE(eval(L"<os major='10x'/>")) << "not a number: absent, so not compared";
    EXPECT_TRUE(eval(L"<os major=''/>"));
    pugi::xml_document doc;
    doc.load_string(L"<conditions><os major='4294967296'/></conditions>");
    condition_root root;
    EXPECT_THROW(root.load(doc.first_child(), context), narrowing_error);
}

TEST_F(Conditions, NumbersEndAtTheSixtyFourBitLimitsWithoutWrapping) {
    // The limits themselves are numbers (as text each pair would sort the other way).
    EXPECT_TRUE(eval(L"<less-than left='99' right='9223372036854775807'/>"));
    EXPECT_TRUE(eval(L"<equals left='9223372036854775807' right='+9223372036854775807'/>"));
    EXPECT_TRUE(eval(L"<less-than left='-9223372036854775808' right='-9223372036854775807'/>"));
    EXPECT_TRUE(eval(L"<equals left='-9223372036854775808' right=' -9223372036854775808'/>"));
    // One past them is text: never wrapped to the other end, never clamped to the limit.
    EXPECT_FALSE(eval(L"<less-than left='9223372036854775808' right='0'/>"));
    EXPECT_FALSE(eval(L"<equals left='9223372036854775808' right='9223372036854775807'/>"));
    EXPECT_FALSE(eval(L"<less-than left='99' right='9223372036854775808'/>"));
    EXPECT_FALSE(eval(L"<equals left='9223372036854775808' right='+9223372036854775808'/>")) << "the sign counts in text";
    EXPECT_FALSE(eval(L"<greater-than left='-9223372036854775809' right='0'/>"));
    EXPECT_FALSE(eval(L"<equals left='-9223372036854775809' right='-9223372036854775808'/>"));
    EXPECT_FALSE(eval(L"<equals left='18446744073709551616' right='0'/>"));
    EXPECT_FALSE(eval(L"<equals left='18446744073709551615' right='-1'/>"));

    // OS numbers: inside 64 bits but outside 32 is the narrowing failure;
    // past 64 bits the value is absent, so it is not compared at all.
    const auto load = [&](const std::wstring& os) {
        pugi::xml_document doc;
        doc.load_string((L"<conditions>" + os + L"</conditions>").c_str());
        condition_root root;
        root.load(doc.first_child(), context);
        return root.evaluate(context);
    };
    EXPECT_FALSE(load(L"<os major='2147483647'/>"));
    EXPECT_FALSE(load(L"<os major='-2147483648'/>"));
    for (const std::string n : {"2147483648", "-2147483649", "9223372036854775807", "-9223372036854775808"})
        EXPECT_THROW(load(L"<os major='" + std::wstring(n.begin(), n.end()) + L"'/>"), narrowing_error) << n;
    EXPECT_TRUE(load(L"<os major='9223372036854775808'/>"));
    EXPECT_TRUE(load(L"<os major='-9223372036854775809'/>"));
    EXPECT_TRUE(load(L"<os major='18446744073709551622'/>")) << "2^64 + 6 is not 6";
}

TEST_F(Conditions, Brands) {
    EXPECT_TRUE(eval(L"<brand name='Kavro'/>"));
    EXPECT_FALSE(eval(L"<brand name='tavrix'/>"));
    host->the_brand = brand::odrano;
    EXPECT_EQ(error_of(L"<brand name='odrano'/>"), "The executable is running under unknown brand!");
    host->the_brand.reset();
    EXPECT_EQ(error_of(L"<brand name='kavro'/>"), "The executable is running under unknown brand!");
    EXPECT_EQ(error_of(L"<brand name=''/>"), "The assertion failed for expression: m_name && !m_name->empty()");
}

TEST_F(Conditions, SaveWritesBackWhatWasSet) {
    pugi::xml_document doc;
    doc.load_string(L"<conditions default='false'><and><equals left='a' right='b'/><file path='p' exists='true'/></and>"
                    L"<os major='6' platform='x64'/></conditions>");
    condition_root root;
    root.load(doc.first_child(), context);
    pugi::xml_document out;
    root.save(out.append_child(L"x"));
    struct writer : pugi::xml_writer {
        std::string text;
        void write(const void* d, size_t n) override { text.append(static_cast<const char*>(d), n); }
    } w;
    out.save(w, L"", pugi::format_raw | pugi::format_no_declaration);
    EXPECT_EQ(w.text,
              "<conditions default=\"false\"><and><equals left=\"a\" right=\"b\"/><file path=\"p\" type=\"file\" "
              "exists=\"true\"/></and><os major=\"6\" platform=\"x64\"/></conditions>");
}

TEST(LightExpander, WholeValuesOnly) {
    light_expander e;
    e.set(L"%VELTRO_IS_SILENT%", L"0");
    e.set(L"%VELTRO_IS_SILENT%", L"1");
    EXPECT_EQ(e.expand(std::wstring(L"%VELTRO_IS_SILENT%")), L"1");
    EXPECT_EQ(e.expand(std::wstring(L"%veltro_is_silent%")), L"%veltro_is_silent%");
    EXPECT_EQ(*e.expand_shared(L"%VELTRO_IS_SILENT%", 18), L"1");
    EXPECT_FALSE(e.expand_optional(std::nullopt));
    EXPECT_EQ(*e.expand_optional(std::wstring(L"plain")), L"plain");
}
