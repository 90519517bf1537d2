#include "veltro_sfx_lib/setup/master_setup_evaluator.hpp"

#include "framework/path.hpp"
#include "framework/utf.hpp"

namespace qzr::sfx {

void master_setup_evaluator::evaluate(const std::wstring& file_name, const pugi::xml_node& setup_commands,
                                      const std::wstring& folder) {
    std::wstring executable = setup_commands.attribute(L"executable").as_string(L"veltro.exe");
    std::wstring arguments = setup_commands.attribute(L"arguments").as_string(L"");
    if (const pugi::xml_node sfx = setup_commands.child(L"sfx")) {
        if (const auto a = sfx.attribute(L"executable")) executable = a.value();
        if (const auto a = sfx.attribute(L"arguments")) arguments = a.value();
    }
    if (!utf::iequals(executable, file_name)) return;
    command_ = path::join(folder, executable);
    if (!arguments.empty()) command_ += L" " + arguments;
}

}  // namespace qzr::sfx
