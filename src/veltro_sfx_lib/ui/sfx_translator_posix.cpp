#include "veltro_sfx_lib/ui/sfx_translator.hpp"

namespace qzr::sfx {

// Host builds carry no resources: their users hand the table in themselves.
byte_view string_table_resource() noexcept { return {}; }

}  // namespace qzr::sfx
