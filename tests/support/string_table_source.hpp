#pragma once

#include <string_view>

namespace qzr::test {

// resources/string_table.xml, byte for byte.
extern const std::string_view string_table_source;

}  // namespace qzr::test
