// The executable's entry point runs before the language runtime: it hardens
// the heap and DLL loading and keeps the program's own path.
#pragma once

#include <string>

extern "C" void qzr_process_entry();

namespace qzr::sfx {

// The program's own full path. Taken from the loader record by the DLL
// hardening when it rewrites that record, else from the module on first use;
// never re-read from the loader afterwards.
const std::wstring& program_path();

}  // namespace qzr::sfx
