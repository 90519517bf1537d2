// Download to disk, timed, two ways under the same WinHTTP:
//   download_bench client URL FILE    the stub's HTTP client streaming into
//                                     the downloader's file writer (64 KiB),
//                                     which reads the response's headers
//   download_bench minimal URL FILE   the platform's floor: a synchronous
//                                     WinHTTP loop, 64 KiB reads, WriteFile
// A fourth argument sets the read size in bytes for both (default 65536),
// to see what the size of each read costs. Prints the milliseconds taken
// and the bytes written; exits 1 on failure.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "net/simple_http_wrapper.hpp"
#include "veltro_sfx_lib/network/sfx_downloader.hpp"
#include "win/handle.hpp"

namespace {

DWORD buffer_size = 65536;

HANDLE create_output(const wchar_t* path) {
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool with_client(const std::wstring& url, const wchar_t* path) {
    qzr::win::file_handle out(create_output(path));
    if (!out) return false;
    auto client = qzr::net::simple_http_wrapper::factory().create(qzr::net::access::no_proxy, 0);
    qzr::net::resume::partial held;
    std::atomic<std::uint64_t> continued_from{0};
    const auto sink = std::make_shared<qzr::sfx::continuing_file_writter>(out.get(), held, continued_from);
    return client->get_to_stream(qzr::net::crack(url), sink, buffer_size, L"") == 200;
}

bool minimal(const std::wstring& url, const wchar_t* path) {
    const auto u = qzr::net::crack(url);
    const std::wstring host(u.host.begin(), u.host.end()), object(u.path.begin(), u.path.end());
    HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = session ? WinHttpConnect(session, host.c_str(), u.port, 0) : nullptr;
    HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", object.c_str(), nullptr, nullptr, nullptr, 0)
                                   : nullptr;
    bool ok = request && WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) &&
              WinHttpReceiveResponse(request, nullptr);
    qzr::win::file_handle out(create_output(path));
    std::vector<char> buffer(buffer_size);
    for (DWORD got = 0; ok && out;) {
        ok = WinHttpReadData(request, buffer.data(), buffer_size, &got) != FALSE;
        if (!ok || got == 0) break;
        DWORD written = 0;
        ok = WriteFile(out.get(), buffer.data(), got, &written, nullptr) && written == got;
    }
    for (HINTERNET h : {request, connection, session})
        if (h) WinHttpCloseHandle(h);
    return ok && out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && argc != 5) {
        std::fwprintf(stderr, L"usage: download_bench client|minimal URL FILE [READ-SIZE]\n");
        return 2;
    }
    if (argc == 5) buffer_size = static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10));
    if (buffer_size < 4096 || buffer_size > (64u << 20)) return 2;
    const std::wstring mode = argv[1];
    const auto start = std::chrono::steady_clock::now();
    const bool ok = mode == L"client" ? with_client(argv[2], argv[3]) : minimal(argv[2], argv[3]);
    const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(argv[3], GetFileExInfoStandard, &data);
    const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    std::wprintf(L"%ls %.1f ms %llu bytes\n", mode.c_str(), ms, size);
    return ok ? 0 : 1;
}
