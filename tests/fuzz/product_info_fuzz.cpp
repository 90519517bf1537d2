// Fuzz driver for the product-info.xml parser: the setup files and setup
// command that apply to a stated machine, through the conditions in the
// document. The input is the document (seeds: documents of the tests and
// the demo, see make_seeds). A bad document raises the project's errors;
// narrowing_error, the documented failure of a number outside 32 bits in a
// condition, is let through on purpose and counts as a refusal too.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/errors.hpp"
#include "fuzz_support.hpp"
#include "repository/conditions/basic_condition.hpp"
#include "veltro_sfx_lib/description/product_info_parser.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"

using namespace qzr;
using namespace qzr::sfx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::log_everything();
    sfx_data_holder context;
    context.params = std::make_shared<value_holder>();
    context.command = std::make_shared<command_line>(L"", false);
    product_info_parser parser(context, std::make_shared<fuzz::fixed_host>());
    try {
        parser.parse_data(std::vector<std::uint8_t>(data, data + size));
    } catch (const exceptions::error&) {
        return 0;
    } catch (const repository::conditions::narrowing_error&) {
        return 0;
    }
    try {
        (void)parser.get_setup_commands();
    } catch (const repository::conditions::narrowing_error&) {
    }
    return 0;
}
