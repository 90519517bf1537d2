// The downloader against a repository served by the fault server on
// 127.0.0.1 (tests/net/with_fault_server; without it these tests skip).
// Signatures are decided by a stand-in verifier: the real checks have
// their own tests, here it is the downloader's reaction that counts.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <random>
#include <sstream>
#include <typeinfo>

#include "../support/held_file.hpp"
#include "../support/log_capture.hpp"
#include "framework/hex.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/path.hpp"
#include "framework/sha256.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "repository/conditions/host_facts.hpp"
#include "net/proxy_settings.hpp"
#include "veltro_sfx_lib/network/sfx_downloader.hpp"
#include "veltro_sfx_lib/network/sfx_proxy_parser_intf.hpp"
#include "veltro_sfx_lib/payload/temp_dir.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"
#include "win/file_system.hpp"

using namespace qzr;
using namespace qzr::sfx;

namespace {

std::wstring env(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    return GetEnvironmentVariableW(name, value, MAX_PATH) ? value : L"";
}

struct verdicts {
    bool container = true;  // the downloaded LZMA file
    bool document = true;   // a product-info's own signature
    bool module = true;     // a decoded module
};

struct verdict_verifier : verify_signature_intf::factory {
    std::shared_ptr<verdicts> v = std::make_shared<verdicts>();
    mutable int handle_checks = 0;
    std::shared_ptr<verify_signature_intf> create() const override {
        struct checker : verify_signature_intf {
            const verdict_verifier& f;
            explicit checker(const verdict_verifier& f) : f(f) {}
            bool dsa_signed_handle(void* file) override {
                ++f.handle_checks;
                // A download's container is a temporary file named with a
                // GUID at its end; anything else is a decoded module.
                std::vector<std::uint8_t> buffer(sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(wchar_t), 0);
                auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
                GetFileInformationByHandleEx(static_cast<HANDLE>(file), FileNameInfo, info,
                                             static_cast<DWORD>(buffer.size()));
                const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
                const bool container = name.size() > 36 && uuid::has_uuid_shape(name.substr(name.size() - 36));
                return container ? f.v->container : f.v->module;
            }
            bool dsa_signed_block(const std::uint8_t*, std::size_t) override { return f.v->document; }
            bool dsa_signed_source(byte_source&) override { return false; }
            bool dsa_signed(const std::wstring&) override { return false; }
            bool dsa_signed_any(const std::wstring&) override { return false; }
        };
        return std::make_shared<checker>(*this);
    }
};

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string read_file(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string sha_text(const std::vector<std::uint8_t>& data) { return hex::encode(root::sha256::of(data)); }

class Downloader : public ::testing::Test {
protected:
    std::wstring server = env(L"VELTRO_FAULT_SERVER");
    std::wstring root;  // the served folder, as a Windows path
    std::shared_ptr<temp_dir> tmp;
    std::shared_ptr<value_holder> params = std::make_shared<value_holder>();
    std::shared_ptr<verdict_verifier> verifier = std::make_shared<verdict_verifier>();
    sfx_data_holder context;

    void SetUp() override {
        if (server.empty()) GTEST_SKIP() << "no fault server (run through tests/net/with_fault_server)";
        root = L"Z:" + env(L"VELTRO_FAULT_ROOT");
        for (auto& c : root)
            if (c == L'/') c = L'\\';
        tmp = std::make_shared<temp_dir>(true);
        ASSERT_TRUE(win::create_directories(path::join(tmp->path(), L"common")));
        params->set(keys::tmp_path, tmp->path());
        params->set(keys::base_url, L"http://" + server + L"/repo");
        context.params = params;
    }

    std::shared_ptr<sfx_downloader> downloader() {
        return std::make_shared<sfx_downloader>(
            context, sfx_downloader::collaborators{
                         std::make_shared<net::simple_http_wrapper::factory>(), verifier,
                         std::make_shared<product_info_parser::factory>(repository::conditions::running_host())});
    }

    // Publishes content LZMA-compressed at the repository path.
    void publish(const std::wstring& relative, const std::vector<std::uint8_t>& content, std::uint32_t level = 1) {
        const std::wstring full = path::join(root, relative);
        ASSERT_TRUE(win::create_directories(path::parent(full)));
        const auto packed = packers::lzma_encode(content, level);
        std::ofstream(full.c_str(), std::ios::binary).write(reinterpret_cast<const char*>(packed.data()),
                                                             static_cast<std::streamsize>(packed.size()));
    }

    std::wstring target(const wchar_t* name) const { return path::join(path::join(tmp->path(), L"common"), name); }

    std::vector<std::wstring> files_in_common() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW d;
        HANDLE h = FindFirstFileW(path::join(path::join(tmp->path(), L"common"), L"*").c_str(), &d);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            if (d.cFileName[0] != L'.') names.emplace_back(d.cFileName);
        } while (FindNextFileW(h, &d));
        FindClose(h);
        return names;
    }

    std::string fetch_text(const wchar_t* what) {
        std::vector<std::uint8_t> body;
        auto c = net::simple_http_wrapper::factory().create(net::access::no_proxy, 0);
        c->get_to_memory(net::crack(L"http://" + server + what), body, L"");
        return std::string(body.begin(), body.end());
    }

    std::uint32_t requests_so_far() { return static_cast<std::uint32_t>(std::stoul(fetch_text(L"/count"))); }
};

}  // namespace

TEST(DownloaderPaths, ObjectPathsAndCandidates) {
    const std::wstring digest = L"0123456789ab" + std::wstring(52, L'f');
    EXPECT_EQ(repository_object_path(digest), L"0123/4567/89ab/" + digest + L".lzma");
    EXPECT_EQ(repository_object_path(L"0123456789"), L"0123/4567/89/0123456789.lzma");
    for (const wchar_t* hostile : {L"../../../../etc/passwd", L"0123", L"01234567/..", L"0123456789ab%2e"}) {
        try {
            repository_object_path(hostile);
            ADD_FAILURE() << utf::to_utf8(hostile);
        } catch (const qzr::exceptions::error& e) {
            EXPECT_EQ(e.code(), 13);
        }
    }
    EXPECT_EQ(candidate_urls(L"https://repo/x"), std::vector<std::wstring>{L"https://repo/x"});
    EXPECT_EQ(candidate_urls(L"repo:81/x"), (std::vector<std::wstring>{L"https://repo:81/x", L"http://repo:81/x"}));
}

TEST_F(Downloader, ASetupFileIsFetchedDecodedAndChecked) {
    const auto content = bytes(std::string(300000, 'a') + "setup");
    const std::wstring sha = utf::from_utf8(sha_text(content));
    publish(L"universe\\" + repository_object_path(sha), content);
    std::uint64_t chunks = 0, announced = 0;
    auto d = downloader();
    d->set_progress_callback([&](std::uint64_t chunk, std::uint64_t length) {
        chunks += chunk;
        announced = length;
    });
    test::log_capture log;
    file_hold hold = d->download_product_lzma_file(sha, target(L"setup.bin"), sha);
    EXPECT_EQ(read_file(target(L"setup.bin")), std::string(content.begin(), content.end()));
    // Held as checked until the hold goes.
    ASSERT_TRUE(hold);
    EXPECT_EQ(test::changes_allowed(target(L"setup.bin")), "");
    hold.reset();
    EXPECT_EQ(files_in_common(), std::vector<std::wstring>{L"setup.bin"}) << "no temporary file stays";
    EXPECT_GT(chunks, 0u);
    EXPECT_EQ(chunks, announced) << "progress counts the compressed transfer";
    EXPECT_GT(d->average_speed(), 0.0);
    EXPECT_TRUE(log.has_containing(log::level_info, "succeeded. (speed current: "));

    // The digest text of the document decides: a file that is not what it
    // names does not stay; an empty one is accepted with an error line.
    const std::wstring other = L"ab" + sha.substr(2);
    try {
        d->download_product_lzma_file(sha, target(L"wrong.bin"), other);
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), 13);
        EXPECT_EQ(std::string(e.what()), "Fail unpack data, wrong checksum ('" + utf::to_utf8(target(L"wrong.bin")) +
                                             "', hash:" + utf::to_utf8(other) + ")");
    }
    EXPECT_FALSE(win::exists(target(L"wrong.bin")));
    hold = d->download_product_lzma_file(sha, target(L"unchecked.bin"), L"");
    EXPECT_EQ(test::changes_allowed(target(L"unchecked.bin")), "") << "held even without a digest to check";
    hold.reset();
    EXPECT_TRUE(log.has(log::level_error, "Missing hash info for '" + utf::to_utf8(target(L"unchecked.bin")) + "'"));
}

TEST_F(Downloader, ProductInfoIsDecodedInMemoryVerifiedAndParsed) {
    publish(L"defs\\demo\\release.xml.lzma",
            bytes("<?xml version=\"1.0\"?><product-info><name>demo</name><version>2.0</version></product-info>"));
    const std::wstring url = L"http://" + server + L"/repo/defs/demo/release.xml.lzma";
    auto info = downloader()->download_product_info(url);
    EXPECT_EQ(info->get_product_info().name, L"demo");
    EXPECT_EQ(files_in_common(), std::vector<std::wstring>{}) << "the download's temporary file is gone";

    verifier->v->document = false;
    try {
        downloader()->download_product_info(url);
        FAIL();
    } catch (const sfx::exceptions::download_file_invalid_signature& e) {
        EXPECT_EQ(std::string(e.what()), "DSA signature is invalid:'" + utf::to_utf8(url) + "'.");
    }
    verifier->v->document = true;

    publish(L"defs\\demo\\empty.xml.lzma", {});
    try {
        downloader()->download_product_info(L"http://" + server + L"/repo/defs/demo/empty.xml.lzma");
        FAIL();
    } catch (const sfx::exceptions::download_file_fail& e) {
        EXPECT_EQ(e.code(), 13);
    }
}

// A container whose signature fails is a failed download (the transfer
// passes every failure on as one), not a signature failure of the stub.
TEST_F(Downloader, ATamperedContainerIsAFailedDownload) {
    publish(L"defs\\demo\\release.xml.lzma", bytes("<product-info/>"));
    verifier->v->container = false;
    const std::wstring url = L"http://" + server + L"/repo/defs/demo/release.xml.lzma";
    test::log_capture log;
    try {
        downloader()->download_product_info(url);
        FAIL();
    } catch (const sfx::exceptions::download_file_fail& e) {
        EXPECT_EQ(typeid(e), typeid(sfx::exceptions::download_file_fail));
        EXPECT_EQ(std::string(e.what()), "Download file '" + utf::to_utf8(url) + "' failed");
    }
    EXPECT_TRUE(log.has(log::level_error, "DSA verification check of downloaded LZMA file (url " + utf::to_utf8(url) +
                                              ") fail"));
}

TEST_F(Downloader, EveryCandidateFailingEndsWithTheLastStatus) {
    const std::wstring missing = L"http://" + server + L"/repo/defs/none.xml.lzma";
    const std::uint32_t before = requests_so_far();
    try {
        downloader()->download_file(missing, target(L"none"), 3, false, true);
        FAIL();
    } catch (const sfx::exceptions::download_file_fail& e) {
        EXPECT_EQ(e.code(), 404);
        EXPECT_EQ(std::string(e.what()), "Download file '" + utf::to_utf8(missing) + "' failed");
    }
    EXPECT_EQ(requests_so_far() - before, 3u + 1) << "three passes over one candidate (and this count)";
    EXPECT_EQ(files_in_common(), std::vector<std::wstring>{}) << "neither target nor temporary files";

    // A bare address: https first, which a plain server cannot answer, then
    // http, which finds the file.
    publish(L"dll\\demo\\x86\\veltro_mod.dll.lzma", bytes("module"));
    downloader()->download_file(server + L"/repo/dll/demo/x86/veltro_mod.dll.lzma", target(L"veltro_mod.dll"), 1, true,
                                false);
    EXPECT_EQ(read_file(target(L"veltro_mod.dll")), "module");
}

TEST_F(Downloader, AnUnsignedModuleDoesNotStay) {
    publish(L"dll\\demo\\x86\\veltro_mod.dll.lzma", bytes("module"));
    verifier->v->module = false;
    const std::wstring url = L"http://" + server + L"/repo/dll/demo/x86/veltro_mod.dll.lzma";
    try {
        downloader()->download_file(url, target(L"veltro_mod.dll"), 1, true, false);
        FAIL();
    } catch (const sfx::exceptions::download_file_invalid_signature& e) {
        EXPECT_EQ(std::string(e.what()), "DSA signature of veltro_mod.dll is invalid:'" + utf::to_utf8(url) + "'");
    }
    EXPECT_FALSE(win::exists(target(L"veltro_mod.dll")));
}

TEST_F(Downloader, WithoutABaseUrl) {
    auto without = std::make_shared<value_holder>();
    without->set(keys::tmp_path, tmp->path());
    context.params = without;
    try {
        downloader()->download_product_lzma_file(std::wstring(64, L'a'), target(L"x"), L"");
        FAIL();
    } catch (const sfx::exceptions::download_file_fail& e) {
        EXPECT_STREQ(e.what(), "Base url path is undefined.");
    }
}

// A transfer cut off part-way is continued on the next pass, guarded by the
// validator of the first response; whatever does not continue exactly what
// is held starts over from byte 0. The server logs each response: status,
// the Range and If-Range asked, the bytes it sent. VELTRO_RESUME_MIB sets
// the object's size (the benchmark runs it with a large one).
TEST_F(Downloader, ACutTransferContinuesOrStartsOver) {
    const std::wstring mib_text = env(L"VELTRO_RESUME_MIB");
    const std::size_t size = (mib_text.empty() ? 6 : std::stoul(mib_text)) << 20;
    std::mt19937_64 random(22);
    auto noise = [&] {
        std::vector<std::uint8_t> data(size);
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        return data;
    };
    const auto first = noise(), second = noise();
    publish(L"defs\\resume\\object.lzma", first, 0);
    publish(L"defs\\resume\\object.lzma.next", second, 0);
    const std::uint64_t object = size + 5 + 8 + 2048;  // an upper bound of the container at level 0

    wchar_t proxy_address[64] = {};
    const bool have_proxy = GetEnvironmentVariableW(L"VELTRO_PROXY", proxy_address, 64) != 0;
    struct through_proxy : sfx_proxy_parser_intf {
        http::ProxySettings s;
        bool has_settings() const override { return true; }
        const http::ProxySettings& settings() const override { return s; }
    };

    // Each response as "STATUS RANGE IF-RANGE": RANGE "N" is a range from
    // where the first response stopped, IF-RANGE the kind of validator.
    struct row {
        const wchar_t* modes;
        bool proxy;
        std::vector<std::string> responses;
        bool second_object;
    };
    const row rows[] = {
        {L"cut", false, {"200 - -", "206 N etag"}, false},
        {L"cut,lastmod", false, {"200 - -", "206 N date"}, false},
        {L"cut", true, {"200 - -", "206 N etag"}, false},
        {L"cut,norange", false, {"200 - -", "200 N etag"}, false},
        {L"cut,swap", false, {"200 - -", "200 N etag"}, true},
        {L"cut,badrange", false, {"200 - -", "206 N etag", "200 - -"}, false},
        {L"cut,novalidator", false, {"200 - -", "200 - -"}, false},
    };
    int n = 0;
    for (const row& r : rows) {
        SCOPED_TRACE(utf::to_utf8(r.modes) + (r.proxy ? " through the proxy" : ""));
        if (r.proxy && !have_proxy) continue;
        if (r.proxy) {
            auto p = std::make_shared<through_proxy>();
            const std::wstring address = proxy_address;
            p->s.proxy_type = http::proxy_type::http;
            p->s.proxy_name = utf::to_utf8(address.substr(0, address.find(L':')));
            p->s.port = std::stoi(address.substr(address.find(L':') + 1));
            p->s.authorization = http::proxy_authorization::basic;
            p->s.user_name = "veltro";
            p->s.user_password = "s3cret";
            context.proxy = p;
        } else {
            context.proxy = nullptr;
        }
        // A path of its own per row: the server counts responses per path.
        const std::wstring name = L"object" + std::to_wstring(++n);
        const std::wstring url = L"http://" + server + L"/resume/" + r.modes + L"/defs/resume/" + name;
        for (const wchar_t* suffix : {L"", L".next"})
            ASSERT_TRUE(CopyFileW(path::join(root, L"defs\\resume\\object.lzma" + std::wstring(suffix)).c_str(),
                                  path::join(root, L"defs\\resume\\" + name + suffix).c_str(), FALSE));
        const std::string before = fetch_text(L"/resume-log");
        const auto logged = std::count(before.begin(), before.end(), '\n');
        downloader()->download_file(url, target(name.c_str()), 3, false, true);
        const auto& expected = r.second_object ? second : first;
        EXPECT_TRUE(read_file(target(name.c_str())) == std::string(expected.begin(), expected.end()))
            << "the file is the one object, never a mix";
        EXPECT_EQ(files_in_common(), std::vector<std::wstring>{name}) << "no temporary file stays";
        DeleteFileW(target(name.c_str()).c_str());

        std::istringstream log(fetch_text(L"/resume-log"));
        std::string line;
        for (auto i = logged; i > 0; --i) std::getline(log, line);
        std::vector<std::string> seen;
        std::uint64_t sent = 0, first_sent = 0;
        std::string etag_or_date;
        while (std::getline(log, line)) {
            std::istringstream fields(line);
            std::string status, range, if_range;
            std::uint64_t bytes = 0;
            std::getline(fields, status, '\t');
            std::getline(fields, range, '\t');
            std::getline(fields, if_range, '\t');
            fields >> bytes;
            if (seen.empty()) first_sent = bytes;
            sent += bytes;
            const std::string from = "bytes=" + std::to_string(first_sent) + "-";
            const std::string kind = if_range == "-" ? "-" : if_range.front() == '"' ? "etag" : "date";
            seen.push_back(status + " " + (range == "-" ? "-" : range == from ? "N" : range) + " " + kind);
        }
        EXPECT_EQ(seen, r.responses);
        if (r.responses.size() == 2 && r.responses[1].rfind("206", 0) == 0)
            EXPECT_LE(sent, object * 11 / 10) << "a continuation sends the rest only";
    }
    context.proxy = nullptr;
}
