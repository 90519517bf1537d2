// Runs the real stub (this build's veltro_sfx.exe) as a child process and
// gathers what a run leaves behind: its full 32-bit exit code, its log, its
// temporary folders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qzr::e2e {

struct run_result {
    std::uint32_t exit_code = 0;
    bool timed_out = false;
    std::string log;  // sfx.log of this run, UTF-8 with its BOM
};

// A self-extractor packed for these tests (scripts/make-e2e-stubs): signed,
// signed_v2, wrong_key, tampered, bare, install, ...
std::wstring packed_stub(const std::wstring& name);
// The self-extractor that carries a whole product.
std::wstring stub_path();
// A copy of the stub under another file name (for per-program settings).
std::wstring stub_copy(const std::wstring& file_name);

// Starts exe with the argument text and waits (bounded) for it; the log file
// is emptied before the run.
run_result run_stub(const std::wstring& arguments, const std::wstring& exe = stub_path(),
                    std::uint32_t timeout_ms = 120000);

std::wstring log_file_path();
std::wstring windows_temp();
std::vector<std::wstring> temp_folders();  // qzr-* under the Windows Temp folder

// Windows version reported to one program (per-program Wine setting).
void set_reported_version(const std::wstring& exe_name, const std::wstring& version);

std::string read_file(const std::wstring& path);
std::vector<std::string> log_messages(const std::string& log);  // message part of each line

}  // namespace qzr::e2e
