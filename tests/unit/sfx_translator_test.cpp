#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>

#include <pugixml.hpp>

#include "framework/lzma_codec.hpp"
#include "support/string_table_source.hpp"
#include "veltro_sfx_lib/ui/sfx_languages.hpp"
#include "veltro_sfx_lib/ui/sfx_translator.hpp"

namespace {

using namespace qzr;
using namespace qzr::sfx;

std::vector<std::uint8_t> compress(std::string_view xml) {
    return packers::lzma_encode({reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()}, 6);
}

const std::vector<std::uint8_t>& shipped_table() {
    static const std::vector<std::uint8_t> table = compress(test::string_table_source);
    return table;
}

std::unique_ptr<sfx_translator> shipped(std::int32_t language) {
    return std::make_unique<sfx_translator>(language, byte_view(shipped_table()));
}

std::unique_ptr<sfx_translator> from_xml(std::int32_t language, std::string_view xml) {
    const auto table = compress(xml);
    return std::make_unique<sfx_translator>(language, byte_view(table));
}

const std::map<std::wstring, std::wstring> english = {
    {L"@Sfx_Download_Fail",
     L"Cannot download setup files. Please check your internet connection, or try it again later ({0})."},
    {L"@Sfx_MissingSfx", L"Cannot find setup files, installer is probably corrupted. Please try to download it again."},
    {L"@Sfx_FileInvalidSignature", L"Downloaded setup files are corrupted, please try launch setup again."},
    {L"@Sfx_MsgBoxTitle", L"Setup failed."},
    {L"@Sfx_UnsupportedOS", L"This operating system is not supported."},
    {L"@Sfx_Starting", L"starting"},
    {L"@Sfx_ErrCode", L"Error code"},
    {L"@Sfx_LogInfo", L"More information in log"},
    {L"@Sfx_Title", L"{0} Self-Extractor"},
    {L"@Sfx_LowIntegrity",
     L"We are sorry but the installer must be run at high integrity level!\n\nTip: Do not run under built-in "
     L"Administrator user or use different browser to download the installer."},
    {L"@Sfx_PPI_Desc1", L"Ready to install {0}?"},
    {L"@Sfx_PPI_Desc2", L"Feel free to surf the web or grab a coffee.\nWe'll let you know when we're done."},
    {L"@Sfx_PPI_Install", L"Install"},
    {L"@Sfx_PPI_Cancel", L"Cancel"},
};

std::size_t count(const std::wstring& text, std::wstring_view what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::wstring::npos; pos = text.find(what, pos + what.size())) ++n;
    return n;
}

// Every identifier in every shipped language, the English exactly as users
// have always seen it, and no translation losing an argument marker or a
// line break (a lost "{0}" would hide the error code from the user).
TEST(StringTable, EveryIdentifierInEveryLanguageKeepsMarkersAndBreaks) {
    pugi::xml_document doc;
    const auto parsed = doc.load_buffer(test::string_table_source.data(), test::string_table_source.size());
    ASSERT_TRUE(parsed) << parsed.description();

    std::set<std::wstring> expected_cultures;
    for (const auto& e : language_table())
        if (e.id != 2057 && e.id != 3084) expected_cultures.emplace(e.culture);
    ASSERT_EQ(expected_cultures.size(), 44u);

    std::set<std::wstring> ids;
    for (const pugi::xml_node identifier : doc.child(L"identifiers").children(L"identifier")) {
        const std::wstring id = identifier.attribute(L"id").value();
        ASSERT_TRUE(ids.insert(id).second) << "identifier twice";
        ASSERT_TRUE(english.count(id));
        const std::wstring& en = english.at(id);
        std::set<std::wstring> cultures;
        for (const pugi::xml_node language : identifier.children(L"language")) {
            const std::wstring lang = language.attribute(L"lang").value();
            SCOPED_TRACE(std::string(id.begin(), id.end()) + " " + std::string(lang.begin(), lang.end()));
            EXPECT_TRUE(cultures.insert(lang).second) << "language twice";
            EXPECT_STREQ(language.attribute(L"status").value(), L"Reviewed");
            const std::wstring text = language.text().get();
            ASSERT_FALSE(text.empty());
            EXPECT_EQ(count(text, L"{0}"), count(en, L"{0}"));
            EXPECT_EQ(count(text, L"{1}"), 0u);
            EXPECT_EQ(count(text, L"\n"), count(en, L"\n"));
            EXPECT_EQ(count(text, L"\n\n"), count(en, L"\n\n"));
            EXPECT_EQ(count(text, L"\r"), 0u);
            EXPECT_NE(text.front(), L' ');
            EXPECT_NE(text.back(), L' ');
            if (lang == L"en-us") EXPECT_EQ(text, en);
            // Right-to-left languages embed every line, and close what they open.
            const bool rtl = lang == L"ar-sa" || lang == L"fa-ir" || lang == L"he-il" || lang == L"ur-pk";
            for (std::size_t from = 0, to; from <= text.size(); from = to + 1) {
                to = std::min(text.find(L'\n', from), text.size());
                const std::wstring line = text.substr(from, to - from);
                if (!rtl || line.empty()) {
                    EXPECT_EQ(line.find_first_of(L"\u202B\u202C"), std::wstring::npos);
                    continue;
                }
                EXPECT_EQ(line.front(), L'\u202B');
                EXPECT_EQ(line.back(), L'\u202C');
                EXPECT_EQ(count(line, L"\u202B"), 1u);
                EXPECT_EQ(count(line, L"\u202C"), 1u);
            }
        }
        EXPECT_EQ(cultures, expected_cultures);
    }
    EXPECT_EQ(ids.size(), english.size());
}

TEST(Translator, EachLanguageFindsItsOwnTexts) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(test::string_table_source.data(), test::string_table_source.size()));
    for (const auto& e : language_table()) {
        const auto translator = shipped(e.id);
        const std::wstring culture(e.culture);
        for (const auto& [id, en] : english) {
            const pugi::xml_node own = doc.child(L"identifiers")
                                           .find_child_by_attribute(L"identifier", L"id", id.c_str())
                                           .find_child_by_attribute(L"language", L"lang", culture.c_str());
            // en-gb and fr-ca are languages users may have but the table
            // leaves out: they read English.
            EXPECT_EQ(translator->translate(id), own ? std::wstring(own.text().get()) : en)
                << std::string(culture.begin(), culture.end());
        }
    }
    EXPECT_EQ(shipped(1031)->translate(L"@Sfx_PPI_Install"), L"Installieren");
    EXPECT_EQ(shipped(1049)->translate(L"@Sfx_PPI_Cancel"), L"Отмена");
}

TEST(Translator, UnknownLanguagesReadEnglish) {
    for (const std::int32_t language : {2057, 3084, 1234, 0, -1}) {
        const auto translator = shipped(language);
        for (const auto& [id, en] : english) EXPECT_EQ(translator->translate(id), en) << language;
    }
    EXPECT_EQ(shipped(1234)->translate(L"@Sfx_Title", {L"Veltro Studio"}), L"Veltro Studio Self-Extractor");
}

TEST(Translator, TextsOutsideTheTableComeBackWithArgumentsFilledIn) {
    const auto t = shipped(1031);
    EXPECT_EQ(t->translate(L"Disk {0} is full"), L"Disk {0} is full");
    EXPECT_EQ(t->translate(L"Disk {0} is full ({1})", {L"C:", L"112"}), L"Disk C: is full (112)");
    EXPECT_EQ(t->translate(L""), L"");
    EXPECT_EQ(t->translate(L"@Sfx_Nothing"), L"@Sfx_Nothing");
    // Quotes in a plain message must not let it pick another entry of the
    // table, whatever follows them.
    EXPECT_EQ(t->translate(L"@Sfx_Title'"), L"@Sfx_Title'");
    EXPECT_EQ(t->translate(L"@Sfx_Title' or @id='@Sfx_Starting"), L"@Sfx_Title' or @id='@Sfx_Starting");
    EXPECT_EQ(t->translate(L"it's {0}", {L"done"}), L"it's done");
    EXPECT_EQ(t->translate(L"]|//*[\""), L"]|//*[\"");
}

TEST(Translator, ArgumentsReplaceEveryMarkerInOrder) {
    EXPECT_EQ(replace_arguments(L"{0}-{0}-{1}", {L"a", L"b"}), L"a-a-b");
    // A marker an earlier argument brought in is replaced by a later one; an
    // argument holding its own marker is not expanded again.
    EXPECT_EQ(replace_arguments(L"{0}", {L"{1}", L"x"}), L"x");
    EXPECT_EQ(replace_arguments(L"{0}{0}", {L"{0}"}), L"{0}{0}");
    EXPECT_EQ(replace_arguments(L"{10} {1}", {L"a", L"b"}), L"{10} b");
    EXPECT_EQ(replace_arguments(L"no markers", {L"a"}), L"no markers");
}

TEST(Translator, MissingTextsFallBackToEnglishThenToTheIdentifier) {
    const auto t = from_xml(1031, R"(<?xml version="1.0" encoding="utf-8"?>
<identifiers>
  <identifier id="@A"><language lang="en-us" status="Reviewed">Alpha</language>
                      <language lang="de-de" status="Reviewed">Älpha &amp; "Beta"&#xA;zwei</language></identifier>
  <identifier id="@B"><language lang="en-us" status="Reviewed">Bravo</language></identifier>
  <identifier id="@C"><language lang="de-de" status="Reviewed"></language></identifier>
  <identifier id="@D"><language lang="fr-fr" status="Reviewed">Delta</language></identifier>
</identifiers>)");
    EXPECT_EQ(t->translate(L"@A"), L"\u00c4lpha & \"Beta\"\nzwei");
    EXPECT_EQ(t->translate(L"@B"), L"Bravo");
    EXPECT_EQ(t->translate(L"@C"), L"");
    EXPECT_EQ(t->translate(L"@D"), L"@D");
}

// No table, or one damaged in any way, is never a failure: every lookup
// answers with the identifier.
TEST(Translator, DamagedTablesLeaveIdentifiers) {
    const auto& good = shipped_table();
    std::vector<std::uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
    std::vector<std::uint8_t> flipped = good;
    for (std::size_t i = 20; i < flipped.size(); i += 97) flipped[i] ^= 0x5a;
    const std::vector<std::uint8_t> header_only(good.begin(), good.begin() + 13);
    const std::vector<std::uint8_t> noise(300, 0xff);
    const auto not_xml = compress("<identifiers><identifier id=\"@Sfx_Starting\">");
    for (const auto* table : std::initializer_list<const std::vector<std::uint8_t>*>{
             &truncated, &flipped, &header_only, &noise, &not_xml}) {
        const sfx_translator t(1031, byte_view(*table));
        EXPECT_EQ(t.translate(L"@Sfx_PPI_Install"), L"@Sfx_PPI_Install");
        EXPECT_EQ(t.translate(L"@Sfx_Title", {L"Veltro"}), L"@Sfx_Title");
    }
    const sfx_translator none(1033, byte_view());
    EXPECT_EQ(none.translate(L"@Sfx_MsgBoxTitle"), L"@Sfx_MsgBoxTitle");
}

}  // namespace
