#include <gtest/gtest.h>

#include "veltro_sfx_lib/setup/master_setup_evaluator.hpp"

using qzr::sfx::master_setup_evaluator;

namespace {
pugi::xml_node commands(pugi::xml_document& doc, const wchar_t* text) {
    EXPECT_TRUE(doc.load_string(text));
    return doc.first_child();
}
}  // namespace

TEST(MasterSetup, DefaultsWithoutACommandsElement) {
    master_setup_evaluator e({});
    e.evaluate(L"readme.txt", pugi::xml_node(), L"C:\\t\\p");
    EXPECT_EQ(e.get_command(), L"");
    e.evaluate(L"VELTRO.EXE", pugi::xml_node(), L"C:\\t\\p\\");
    EXPECT_EQ(e.get_command(), L"C:\\t\\p\\veltro.exe") << "the executable's spelling, one separator, no quotes";
}

TEST(MasterSetup, SfxOverridesAndTheLastMatchWins) {
    pugi::xml_document doc;
    const auto node = commands(doc, L"<setup-commands executable='setup.exe' arguments='/full'>"
                                    L"<sfx arguments='/from-stub'/></setup-commands>");
    master_setup_evaluator e({});
    e.evaluate(L"setup.exe", node, L"C:\\a");
    EXPECT_EQ(e.get_command(), L"C:\\a\\setup.exe /from-stub");
    e.evaluate(L"Setup.exe", node, L"D:\\b");
    EXPECT_EQ(e.get_command(), L"D:\\b\\setup.exe /from-stub");
    e.evaluate(L"setup.exe.bak", node, L"E:\\c");
    EXPECT_EQ(e.get_command(), L"D:\\b\\setup.exe /from-stub");

    pugi::xml_document other;
    const auto replaced = commands(other, L"<setup-commands executable='a.exe'><sfx executable='b.exe'/></setup-commands>");
    master_setup_evaluator f({});
    f.evaluate(L"a.exe", replaced, L"C:\\x");
    EXPECT_EQ(f.get_command(), L"");
    f.evaluate(L"b.exe", replaced, L"C:\\x");
    EXPECT_EQ(f.get_command(), L"C:\\x\\b.exe");
}

TEST(MasterSetup, ExecutableNotAmongTheFiles) {
    pugi::xml_document doc;
    const auto node = commands(doc, L"<setup-commands executable='missing.exe'/>");
    master_setup_evaluator e({});
    for (const wchar_t* name : {L"veltro.exe", L"data.bin"}) e.evaluate(name, node, L"C:\\x");
    EXPECT_EQ(e.get_command(), L"");
}
