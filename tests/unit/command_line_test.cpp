#include <gtest/gtest.h>

#include "veltro_sfx_lib/run/command_line.hpp"

using qzr::sfx::command_line;
using qzr::sfx::tokenize;

TEST(Tokenizer, QuotesWhitespaceAndDoubledQuotes) {
    EXPECT_EQ(tokenize(L"  a\tb\r\nc  "), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_EQ(tokenize(L"\"C:\\Program Files\\x.exe\" /a"), (std::vector<std::wstring>{L"C:\\Program Files\\x.exe", L"/a"}));
    EXPECT_EQ(tokenize(L"a\"b c\"d"), (std::vector<std::wstring>{L"ab cd"}));
    EXPECT_EQ(tokenize(L"say \"\"hi\"\""), (std::vector<std::wstring>{L"say", L"\"hi\""}));
    EXPECT_EQ(tokenize(L"\"a \"\"quoted\"\" word\""), (std::vector<std::wstring>{L"a \"quoted\" word"}));
    // An unterminated quote runs to the end.
    EXPECT_EQ(tokenize(L"x \"open ended"), (std::vector<std::wstring>{L"x", L"open ended"}));
    EXPECT_TRUE(tokenize(L"").empty());
}

TEST(CommandLine, SwitchesKeysValuesAndArguments) {
    command_line c(L"prog.exe /silent /SILENT:x --lang-id=1031 /a:b=c -x loose /=v", true);
    EXPECT_EQ(c.program_path(), L"prog.exe");
    ASSERT_EQ(c.switches().size(), 4u);
    EXPECT_EQ(c.switches()[0], (command_line::switch_entry{L"silent", L"x"}));
    EXPECT_EQ(*c.find(L"LANG-ID"), L"1031");
    EXPECT_EQ(*c.find(L"a"), L"b=c");  // the first ':' or '=' splits
    EXPECT_EQ(*c.find(L""), L"v");
    EXPECT_EQ(c.arguments(), (std::vector<std::wstring>{L"-x", L"loose"}));
}

TEST(CommandLine, WithoutProgramPathEveryTokenCounts) {
    command_line c(L"/a b", false);
    EXPECT_FALSE(c.has_program_path());
    EXPECT_TRUE(c.has(L"A"));
    EXPECT_EQ(c.arguments(), std::vector<std::wstring>{L"b"});
}

TEST(CommandLine, RebuildQuotesWholeSwitchesAndDoublesQuotes) {
    command_line c(L"\"C:\\My Apps\\s.exe\" \"/install-path:C:\\Program Files\\X\" /q:a\"\"b /e arg", true);
    EXPECT_EQ(*c.find(L"install-path"), L"C:\\Program Files\\X");
    EXPECT_EQ(*c.find(L"q"), L"a\"b");
    EXPECT_EQ(c.rebuild(true), L"\"C:\\My Apps\\s.exe\" \"/install-path:C:\\Program Files\\X\" /q:a\"\"b /e arg");
    EXPECT_EQ(c.rebuild(false), L"\"/install-path:C:\\Program Files\\X\" /q:a\"\"b /e arg");
    // Parsing the rebuilt text gives the same object back.
    command_line again(c.rebuild(true), true);
    EXPECT_EQ(again.switches(), c.switches());
    EXPECT_EQ(again.arguments(), c.arguments());
    EXPECT_EQ(again.program_path(), c.program_path());
}

TEST(CommandLine, RebuildWritesColonForEqualsSwitches) {
    EXPECT_EQ(command_line(L"/DIR=C:\\x /LANG=L1031", false).rebuild(false), L"/DIR:C:\\x /LANG:L1031");
    // "--" alone is a switch with an empty key.
    EXPECT_EQ(*command_line(L"--", false).find(L""), L"");
}

TEST(CommandLine, EditOperations) {
    command_line c(L"/a:1 /b:2", false);
    c.add_or_replace(L"A", L"9");
    c.add_or_replace(L"c", L"3");
    EXPECT_EQ(c.rebuild(false), L"/a:9 /b:2 /c:3");
    EXPECT_TRUE(c.remove(L"B"));
    EXPECT_FALSE(c.remove(L"b"));
    c.get_or_add(L"install");
    c.get_or_add(L"a") = L"kept";
    EXPECT_EQ(c.rebuild(false), L"/a:kept /c:3 /install");
}

TEST(CommandLine, MergeTakesTheOthersValuesAndArguments) {
    command_line mine(L"veltro.exe /lang-id:1033 /install first", true);
    command_line other(L"/LANG-ID:1031 /silent second", false);
    mine.merge(other);
    EXPECT_EQ(mine.rebuild(true), L"veltro.exe /lang-id:1031 /install /silent first second");
    command_line none;
    none.merge(command_line(L"p.exe /x", true));
    EXPECT_EQ(none.program_path(), L"p.exe");
}
