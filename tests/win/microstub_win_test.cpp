#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>

#include "../support/log_capture.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"
#include "veltro_sfx_lib/setup/microstub.hpp"
#include "veltro_sfx_lib/signature/verify_signature.hpp"
#include "win/file_system.hpp"

using namespace qzr;
using namespace qzr::sfx;

namespace {

struct edat_payload : payload_intf {
    std::vector<std::wstring> names;
    struct writer : unpacker_intf {
        file_hold unpack_to_file(const std::wstring& path) override {
            std::ofstream(path.c_str()) << "edat";
            return nullptr;
        }
        std::vector<std::uint8_t> unpack_data() override { return {}; }
    };
    byte_source& image() override { return empty; }
    view_source empty{byte_view()};
    void load(veltro_info_intf&) override {}
    std::shared_ptr<unpacker_intf> find_by_sha(const std::wstring&) override { return nullptr; }
    std::shared_ptr<unpacker_intf> find_by_alias(const std::wstring& a) override {
        return a == L"gone.edat" ? nullptr : std::make_shared<writer>();
    }
    std::vector<std::wstring> aliases() const override { return names; }
};

class Edat : public ::testing::Test {
protected:
    std::wstring dir;
    sfx_data_holder context;
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir = path::join(tmp, L"edat-" + uuid::to_wstring(uuid::random_uuid()));
        ASSERT_TRUE(win::create_directories(dir));
        auto params = std::make_shared<value_holder>();
        params->set(keys::tmp_path, dir);
        context.params = params;
        context.command = std::make_shared<command_line>(L"", false);
    }
    void TearDown() override {
        for (const wchar_t* f : {L"a.EDAT", L"sub\\deep\\b.edat", L"ecoo.edat", L"other.edat"})
            DeleteFileW(path::join(dir, f).c_str());
        RemoveDirectoryW(path::join(dir, L"sub\\deep").c_str());
        RemoveDirectoryW(path::join(dir, L"sub").c_str());
        RemoveDirectoryW(dir.c_str());
    }
};

}  // namespace

TEST_F(Edat, PayloadEntriesIntoTheTemporaryFolder) {
    test::log_capture log;
    auto payload = std::make_shared<edat_payload>();
    payload->names = {L"a.EDAT", L"readme.txt", L"sub\\deep\\b.edat", L"gone.edat", L"..\\out.edat", L"C:\\abs.edat"};
    context.payload = payload;
    sfx_edat(context).unpack();
    EXPECT_TRUE(win::exists(path::join(dir, L"a.EDAT")));
    EXPECT_TRUE(win::exists(path::join(dir, L"sub\\deep\\b.edat")));
    EXPECT_FALSE(win::exists(path::join(dir, L"readme.txt")));
    EXPECT_FALSE(win::exists(path::join(path::parent(dir), L"out.edat")));
    EXPECT_TRUE(log.has("EDAT not in payload (gone.edat)"));
    EXPECT_TRUE(log.has_containing("EDAT alias 'C:\\abs.edat' would leave the temporary folder"));
}

TEST_F(Edat, NoMicrostubWithoutEdatDir) {
    test::log_capture log;
    microstub m(context, std::make_shared<verify_signature::factory>());
    EXPECT_FALSE(m.verify());
    EXPECT_EQ(m.get_cookie(), L"");
    m.copy_edat_files();
    EXPECT_TRUE(log.has(log::level_warning, "Microstub not DSA verified, skip get cookie"));
    EXPECT_TRUE(log.has(log::level_warning, "Microstub not DSA verified, skip copy edat files"));
    EXPECT_FALSE(log.has_containing("DSA for microstub verified"));
}

TEST_F(Edat, AnUnsignedParentHandsOverNothing) {
    test::log_capture log;
    std::ofstream(path::join(dir, L"ecoo.edat").c_str()) << "cookie";
    context.command = std::make_shared<command_line>(L"\"/edat_dir:" + dir + L"\\\\\"", false);
    microstub m(context, std::make_shared<verify_signature::factory>());
    EXPECT_FALSE(m.verify()) << "this test's parent is not signed";
    EXPECT_EQ(m.get_cookie(), L"");
}

// From its check until the microstub object goes, the parent's image is held
// against writers and renames: the image that was trusted stays the one that
// was verified while its cookie and EDAT files are taken. The check needs a
// real parent: the test starts a copy of the launcher fixture, which starts
// this binary again to play the stub (VELTRO_MICROSTUB_CHILD set).
TEST_F(Edat, TheVerifiedParentImageIsHeldWhileTrusted) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring bin = path::parent(std::wstring(self, n));
    const std::wstring parent = path::join(dir, L"parent.exe");
    ASSERT_TRUE(CopyFileW(path::join(bin, L"run_and_report.exe").c_str(), parent.c_str(), FALSE));
    const std::wstring command = L"\"" + parent + L"\" \"" + std::wstring(self, n) +
                                 L"\" --gtest_filter=EdatChild.HoldsItsParentsImage";
    std::vector<wchar_t> buffer(command.begin(), command.end());
    buffer.push_back(0);
    SetEnvironmentVariableW(L"VELTRO_MICROSTUB_CHILD", L"1");
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    SetEnvironmentVariableW(L"VELTRO_MICROSTUB_CHILD", nullptr);
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u) << "the child's checks failed (its output is above)";
    DeleteFileW(parent.c_str());
}

TEST(EdatChild, HoldsItsParentsImage) {
    if (!GetEnvironmentVariableW(L"VELTRO_MICROSTUB_CHILD", nullptr, 0)) GTEST_SKIP() << "started by its parent test";
    struct hooked : verify_signature_intf::factory {
        std::shared_ptr<std::vector<std::wstring>> seen = std::make_shared<std::vector<std::wstring>>();
        std::shared_ptr<verify_signature_intf> create() const override {
            struct v : verify_signature_intf {
                std::shared_ptr<std::vector<std::wstring>> seen;
                bool dsa_signed_any(const std::wstring& image) override {
                    seen->push_back(image);
                    if (writable(image)) seen->push_back(L"writable during the check");
                    if (MoveFileExW(image.c_str(), (image + L".moved").c_str(), 0))
                        seen->push_back(L"renamed during the check");
                    return true;
                }
                bool dsa_signed(const std::wstring&) override { return false; }
                bool dsa_signed_handle(void*) override { return false; }
                bool dsa_signed_block(const std::uint8_t*, std::size_t) override { return false; }
                bool dsa_signed_source(byte_source&) override { return false; }
            };
            auto r = std::make_shared<v>();
            r->seen = seen;
            return r;
        }
        static bool writable(const std::wstring& image) {
            const HANDLE w = CreateFileW(image.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
            if (w == INVALID_HANDLE_VALUE) return false;
            CloseHandle(w);
            return true;
        }
    };
    sfx_data_holder context;
    context.params = std::make_shared<value_holder>();
    context.command = std::make_shared<command_line>(L"/edat_dir:C:\\", false);
    auto verifier = std::make_shared<hooked>();
    {
        microstub m(context, verifier);
        ASSERT_TRUE(m.verify());
        ASSERT_EQ(verifier->seen->size(), 1u) << utf::to_utf8(verifier->seen->back());
        const std::wstring image = verifier->seen->front();
        EXPECT_EQ(image.substr(image.size() - 11), L"\\parent.exe");
        EXPECT_FALSE(hooked::writable(image)) << "the trusted image became writable";
        EXPECT_FALSE(MoveFileExW(image.c_str(), (image + L".moved").c_str(), 0)) << "the trusted image was renamed";
    }
}
