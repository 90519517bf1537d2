#include "veltro_sfx/process_entry.hpp"

#include <windows.h>
#include <winternl.h>

#include "win/process_info.hpp"

// The runtime's own entry, started once the process is hardened.
extern "C" int WinMainCRTStartup();

namespace {

// Heap copy made before any constructor has run; plain data only here.
wchar_t* g_program_path = nullptr;

using set_default_dll_directories_fn = BOOL(WINAPI*)(DWORD);
using ldr_enum_callback = VOID(NTAPI*)(PLDR_DATA_TABLE_ENTRY, PVOID, BOOLEAN*);
using ldr_enumerate_loaded_modules_fn = NTSTATUS(NTAPI*)(BOOLEAN, ldr_enum_callback, PVOID);

constexpr wchar_t decoy_name[] = L"\\b86362a5.exe";  // 13 characters
constexpr UINT system_dir_limit = 96;

// Called for the first loaded module, the executable. Keeps its real path and
// points the loader's record at the system directory, so that the
// application-folder step of the DLL search looks there.
VOID NTAPI first_module(PLDR_DATA_TABLE_ENTRY entry, PVOID, BOOLEAN* stop) {
    *stop = TRUE;
    HANDLE heap = ::GetProcessHeap();
    const USHORT chars = entry->FullDllName.Length / sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(::HeapAlloc(heap, HEAP_ZERO_MEMORY, (chars + 1u) * sizeof(wchar_t)));
    if (copy) {
        for (USHORT i = 0; i < chars; ++i) copy[i] = entry->FullDllName.Buffer[i];
        g_program_path = copy;
    }
    wchar_t sysdir[128];
    const UINT len = ::GetSystemDirectoryW(sysdir, system_dir_limit);
    if (len == 0 || len > system_dir_limit) return;
    const UINT total = len + 13;
    auto* decoy = static_cast<wchar_t*>(::HeapAlloc(heap, HEAP_ZERO_MEMORY, (total + 1u) * sizeof(wchar_t)));
    if (!decoy) return;
    for (UINT i = 0; i < len; ++i) decoy[i] = sysdir[i];
    for (UINT i = 0; i < 13; ++i) decoy[len + i] = decoy_name[i];
    entry->FullDllName.Buffer = decoy;
    entry->FullDllName.Length = static_cast<USHORT>(total * sizeof(wchar_t));
    entry->FullDllName.MaximumLength = static_cast<USHORT>((total + 1) * sizeof(wchar_t));
}

void harden_dll_search() {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto set_default = kernel32 ? reinterpret_cast<set_default_dll_directories_fn>(
                                            reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")))
                                      : nullptr;
    if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;

    ::SetDllDirectoryW(L"");
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto enumerate = ntdll ? reinterpret_cast<ldr_enumerate_loaded_modules_fn>(
                                       reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrEnumerateLoadedModules")))
                                 : nullptr;
    if (enumerate) enumerate(FALSE, &first_module, nullptr);
}

}  // namespace

extern "C" void qzr_process_entry() {
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    harden_dll_search();
    if (!::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) ::ExitProcess(0xC000001D);
    ::ExitProcess(static_cast<UINT>(WinMainCRTStartup()));
}

namespace qzr::sfx {

const std::wstring& program_path() {
    static const std::wstring path = [] {
        if (g_program_path) return std::wstring(g_program_path);
        return win::module_file_name();
    }();
    return path;
}

}  // namespace qzr::sfx
