// Functions the executable exports for the modules it loads: memory on a
// heap the caller names, and at-exit actions kept by the process instead of
// the module's own runtime.
#include <windows.h>

#include "veltro_sfx_lib/run/onexit_store.hpp"

namespace {

// The module whose code holds address; null when no module does.
const void* module_of(const void* address) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module))
        return nullptr;
    return module;
}

}  // namespace

extern "C" {

__declspec(dllexport) void* qzr_process_storage_allocate_connector(HANDLE heap, DWORD flags, SIZE_T size) {
    return heap ? ::HeapAlloc(heap, flags, size) : nullptr;
}

__declspec(dllexport) BOOL qzr_process_storage_deallocate_connector(HANDLE heap, DWORD flags, void* block) {
    return heap ? ::HeapFree(heap, flags, block) : FALSE;
}

// Keeps action with the module whose code it is; the returned holder names
// the registration (null when nothing was kept).
__declspec(dllexport) qzr::sfx::onexit_cookie* onexit_register_connector_kavro_2(qzr::sfx::onexit_action action) {
    return qzr::sfx::process_onexit_store().add(module_of(reinterpret_cast<const void*>(action)), action);
}

// Called by a module as it unloads: its actions run now, latest first,
// while its code is still there.
__declspec(dllexport) void on_kavro_dll_unload(HMODULE module) {
    if (module) qzr::sfx::process_onexit_store().run_module(module);
}

}  // extern "C"
