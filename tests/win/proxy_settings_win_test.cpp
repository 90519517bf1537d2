#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <optional>
#include <thread>

#include "../support/log_capture.hpp"
#include "framework/path.hpp"
#include "framework/uuid.hpp"
#include "net/proxy_settings.hpp"
#include "veltro_sfx_lib/network/sfx_proxy_parser.hpp"
#include "win/file_system.hpp"
#include "win/handle.hpp"

using namespace qzr;
using http::ProxySettings;
using sfx::sfx_proxy_parser;

namespace {

std::vector<std::uint8_t> read_file(const std::wstring& path) {
    win::file_handle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<std::uint8_t> bytes(GetFileSize(f.get(), nullptr));
    DWORD got = 0;
    if (!bytes.empty()) ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

void write_file(const std::wstring& path, std::string_view text) {
    win::file_handle f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Holds the file from another thread until released: open without sharing,
// or open shared and lock every byte.
class holder {
public:
    enum class how { exclusive_open, exclusive_lock, shared_lock };
    holder(const std::wstring& path, how kind, std::chrono::milliseconds hold) {
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([=] {
            const DWORD share =
                kind == how::exclusive_open ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
            win::file_handle f(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
            OVERLAPPED where{};
            const bool lock = kind != how::exclusive_open;
            const DWORD flags = kind == how::exclusive_lock ? LOCKFILE_EXCLUSIVE_LOCK : 0;
            if (lock) LockFileEx(f.get(), flags, 0, MAXDWORD, MAXDWORD, &where);
            SetEvent(ready);
            std::this_thread::sleep_for(hold);
            if (lock) UnlockFileEx(f.get(), 0, MAXDWORD, MAXDWORD, &where);
        });
        WaitForSingleObject(ready, INFINITE);
        CloseHandle(ready);
    }
    ~holder() { thread_.join(); }

private:
    std::thread thread_;
};

// A value under the current user's Internet settings, put back as it was.
class registry_value {
public:
    registry_value(const wchar_t* key, const wchar_t* name) : name_(name) {
        RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &h_, nullptr);
        DWORD size = 0;
        if (RegQueryValueExW(h_, name_, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            old_.emplace(size);
            RegQueryValueExW(h_, name_, nullptr, &type_, old_->data(), &size);
        }
    }
    ~registry_value() {
        if (old_)
            RegSetValueExW(h_, name_, 0, type_, old_->data(), static_cast<DWORD>(old_->size()));
        else
            RegDeleteValueW(h_, name_);
        RegCloseKey(h_);
    }
    void set(DWORD value) {
        RegSetValueExW(h_, name_, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    void set(const std::wstring& value) {
        RegSetValueExW(h_, name_, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    void set(const std::vector<std::uint8_t>& value) {
        RegSetValueExW(h_, name_, 0, REG_BINARY, value.data(), static_cast<DWORD>(value.size()));
    }

private:
    const wchar_t* name_;
    HKEY h_ = nullptr;
    DWORD type_ = 0;
    std::optional<std::vector<std::uint8_t>> old_;
};

constexpr const wchar_t* internet_settings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr const wchar_t* connections = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// The binary record of the user's connection settings: version, change
// counter, flags (1 direct, 2 named proxy), then counted ANSI strings for the
// proxy, the bypass list and the configuration script.
std::vector<std::uint8_t> connection_settings(std::string_view proxy) {
    std::vector<std::uint8_t> out;
    auto dword = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    dword(0x46);
    dword(1);
    dword(proxy.empty() ? 1 : 3);
    dword(static_cast<std::uint32_t>(proxy.size()));
    out.insert(out.end(), proxy.begin(), proxy.end());
    dword(0);
    dword(0);
    out.resize(out.size() + 32);
    return out;
}

class ProxyFiles : public ::testing::Test {
protected:
    std::wstring dir;
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir = path::join(tmp, L"proxy-" + uuid::to_wstring(uuid::random_uuid()));
        ASSERT_TRUE(win::create_directories(dir));
    }
    void TearDown() override {
        for (const wchar_t* f : {L"proxy.ini", L"my proxy.ini", L"other.ini"}) DeleteFileW(path::join(dir, f).c_str());
        RemoveDirectoryW(path::join(dir, L"folder.ini").c_str());
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring file(const wchar_t* name = L"proxy.ini") const { return path::join(dir, name); }

    ProxySettings sample() const {
        ProxySettings s;
        s.proxy_type = 2;
        s.authorization = 1;
        s.port = 3128;
        s.proxy_name = "p1";
        s.user_name = "u";
        s.user_password = "p\xC3\xA4ss";
        s.fallback = false;
        return s;
    }
};

bool same_file_fields(const ProxySettings& a, const ProxySettings& b) {
    return a.proxy_type == b.proxy_type && a.authorization == b.authorization && a.port == b.port &&
           a.proxy_name == b.proxy_name && a.user_name == b.user_name && a.user_password == b.user_password &&
           a.fallback == b.fallback;
}

}  // namespace

TEST_F(ProxyFiles, SaveReplacesTheWholeFileAndLoadReadsItBack) {
    // A longer file of another kind first: nothing of it may survive the save.
    write_file(file(), std::string(4096, 'x'));
    const ProxySettings s = sample();
    ASSERT_EQ(s.save(file()), 0u);
    EXPECT_EQ(read_file(file()), http::serialize_proxy_ini(s));

    ProxySettings back;
    back.reserved = true;
    ASSERT_EQ(back.load(file()), 0u);
    EXPECT_TRUE(same_file_fields(back, s));
    EXPECT_TRUE(back.reserved) << "load leaves the flag the file does not carry";

    ProxySettings untouched = sample();
    EXPECT_EQ(untouched.load(file(L"other.ini")), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(same_file_fields(untouched, s));
    EXPECT_EQ(s.save(path::join(dir, L"missing\\proxy.ini")), static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ProxyFiles, AccessWaitsWhileAnotherHandleHoldsTheFile) {
    ASSERT_EQ(sample().save(file()), 0u);
    using namespace std::chrono;
    {
        const holder h(file(), holder::how::exclusive_open, milliseconds(300));
        const auto start = steady_clock::now();
        ProxySettings s;
        EXPECT_EQ(s.load(file()), 0u);
        EXPECT_GE(steady_clock::now() - start, milliseconds(150)) << "the open was retried, not passed through";
        EXPECT_EQ(s.proxy_name, "p1");
    }
    {
        const holder h(file(), holder::how::exclusive_open, milliseconds(300));
        ProxySettings s = sample();
        s.proxy_name = "p2";
        EXPECT_EQ(s.save(file()), 0u);
    }
    {
        // Writing takes an exclusive lock: it waits for a reader's shared one.
        const holder h(file(), holder::how::shared_lock, milliseconds(300));
        const auto start = steady_clock::now();
        ProxySettings s = sample();
        s.proxy_name = "p3";
        EXPECT_EQ(s.save(file()), 0u);
        EXPECT_GE(steady_clock::now() - start, milliseconds(150));
    }
    {
        // Reading takes a shared lock: it waits for a writer's exclusive one.
        const holder h(file(), holder::how::exclusive_lock, milliseconds(300));
        const auto start = steady_clock::now();
        ProxySettings s;
        EXPECT_EQ(s.load(file()), 0u);
        EXPECT_GE(steady_clock::now() - start, milliseconds(150));
        EXPECT_EQ(s.proxy_name, "p3");
    }
    {
        // Fifty attempts, a tenth of a second apart, and no more.
        const holder h(file(), holder::how::exclusive_open, milliseconds(5800));
        const auto start = steady_clock::now();
        ProxySettings s;
        EXPECT_EQ(s.load(file()), static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
        const auto waited = steady_clock::now() - start;
        EXPECT_GE(waited, milliseconds(4800));
        EXPECT_LT(waited, milliseconds(5500));
    }
}

TEST_F(ProxyFiles, ParserHoldsWhatTheNamedFileSays) {
    const std::wstring ini = file();
    auto parse = [](const std::wstring& command_line) { return sfx_proxy_parser::factory().create(command_line); };
    {
        test::log_capture log;
        const std::vector<std::wstring> none{L"/silent", L"/proxy_ini:", L"/proxy_ini:" + file(L"other.ini"),
                                             L"/proxy_ini:" + file(L"folder.ini")};
        for (const std::wstring& cmd : none) {
            CreateDirectoryW(file(L"folder.ini").c_str(), nullptr);
            const auto p = parse(cmd);
            EXPECT_FALSE(p->has_settings()) << cmd;
            EXPECT_THROW(p->settings(), std::bad_optional_access) << cmd;
        }
        EXPECT_TRUE(log.has(log::level_info, "Loading Proxy settings:"));
        EXPECT_TRUE(log.has(log::level_info, "Proxy-Type: 'not configured'"));
        EXPECT_TRUE(log.has(log::level_info, "Proxy-Port: '0'"));
        EXPECT_TRUE(log.has(log::level_info, "Proxy-Name: ''"));
    }
    {
        // A file without a proxy is held all the same.
        write_file(ini, "[ProxySettings]\nProxyType=0\nProxyName=p0\n");
        test::log_capture log;
        const auto p = parse(L"/proxy_ini:" + ini);
        EXPECT_FALSE(p->has_settings());
        EXPECT_EQ(p->settings().proxy_name, "p0");
        EXPECT_TRUE(log.has(log::level_info, "Proxy-Type: 'no proxy'"));
    }
    {
        ASSERT_EQ(sample().save(file(L"my proxy.ini")), 0u);
        test::log_capture log;
        const auto p = parse(L"/silent \"--proxy_ini=" + file(L"my proxy.ini") + L"\" loose");
        ASSERT_TRUE(p->has_settings());
        EXPECT_TRUE(same_file_fields(p->settings(), sample()));
        const std::string lines[] = {"Loading Proxy settings:", "Proxy-Type: 'HTTP proxy (rfc2616,2617)'",
                                     "Proxy-Authorization: 'basic'", "Proxy-Port: '3128'", "Proxy-Name: 'p1'"};
        for (const auto& line : lines) EXPECT_TRUE(log.has(log::level_info, line));
    }
}

TEST_F(ProxyFiles, PreconfiguredTypeTakesTheUsersSystemProxy) {
    write_file(file(), "[ProxySettings]\r\nProxyType=1\r\nAuthorization=1\r\nUserName=u\r\nPort=1\r\n");
    // What the system's Internet options write: the two plain values and the
    // binary record (Wine's WinHTTP reads only the record).
    registry_value enable(internet_settings, L"ProxyEnable");
    registry_value server(internet_settings, L"ProxyServer");
    registry_value record(connections, L"DefaultConnectionSettings");
    enable.set(1);
    {
        server.set(L"http=p1:3128;https=p2:443");
        record.set(connection_settings("http=p1:3128;https=p2:443"));
        test::log_capture log;
        const auto p = sfx_proxy_parser::factory().create(L"/proxy_ini:" + file());
        ASSERT_TRUE(p->has_settings());
        const ProxySettings& s = p->settings();
        EXPECT_EQ(s.proxy_type, 2);
        EXPECT_EQ(s.proxy_name, "p1");
        EXPECT_EQ(s.port, 3128);
        EXPECT_EQ(s.authorization, 0) << "the file's credentials are not the system proxy's";
        EXPECT_EQ(s.user_name, "");
        EXPECT_TRUE(log.has(log::level_debug, "Detection of IE proxy settings."));
        EXPECT_TRUE(log.has(log::level_info, "The IE proxy settings contains servers: 'http=p1:3128;https=p2:443'."));
    }
    {
        server.set(L"socks=s:1080");
        record.set(connection_settings("socks=s:1080"));
        test::log_capture log;
        const auto p = sfx_proxy_parser::factory().create(L"/proxy_ini:" + file());
        EXPECT_FALSE(p->has_settings());
        EXPECT_THROW(p->settings(), std::bad_optional_access);
        EXPECT_TRUE(log.has(log::level_error, "Detection of IE proxy settings failed, use direct connection."));
    }
}
