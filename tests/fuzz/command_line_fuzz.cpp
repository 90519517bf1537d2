// Fuzz driver for the command line: the INNO switch migration, then the
// tokenizer and the switch store, as the stub treats the text it is started
// with. The input is that text in UTF-16 LE code units, as Windows hands it
// over (lone surrogates included); an odd last byte is dropped. Parsing
// never fails, and the text rebuilt for the setup master parses into the
// same program path, switches and arguments.
// Seeds: command lines of the tests and the demo (make_seeds).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/sfx_migrate_cmd_params.hpp"

using namespace qzr::sfx;

namespace {

bool same(const command_line& a, const command_line& b) {
    return a.has_program_path() == b.has_program_path() && a.program_path() == b.program_path() &&
           a.switches() == b.switches() && a.arguments() == b.arguments();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));

    const sfx_migrate_cmd_params migrate;
    const std::wstring converted = migrate.convert_client_id(migrate.convert_inno(text));

    const command_line parsed(converted, true);
    if (!same(parsed, command_line(parsed.rebuild(true), true))) std::abort();
    const command_line switches_only(converted, false);
    if (!same(switches_only, command_line(switches_only.rebuild(false), false))) std::abort();
    return 0;
}
