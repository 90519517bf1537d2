#include <gtest/gtest.h>

#include "veltro_sfx_lib/description/veltro_info.hpp"

using qzr::sfx::veltro_info;

TEST(VeltroInfo, DeclarationRootAndTabIndentedChildren) {
    veltro_info info;
    info.add_text_element(L"sfx-cmd", L"/silent /x:\"a&b\"");
    info.add_text_element(L"session-id", L"\u00e9");
    pugi::xml_document other;
    auto list = other.append_child(L"file-list");
    list.append_child(L"file").append_attribute(L"alias") = L"a.bin";
    info.add_node(list);
    EXPECT_EQ(info.to_string(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<veltro-info xmlns:xs=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
              "\t<sfx-cmd>/silent /x:\"a&amp;b\"</sfx-cmd>\n"
              "\t<session-id>\xC3\xA9</session-id>\n"
              "\t<file-list>\n"
              "\t\t<file alias=\"a.bin\" />\n"
              "\t</file-list>\n"
              "</veltro-info>\n");
}
