#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>

#include "../support/log_capture.hpp"
#include "framework/path.hpp"
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
        void unpack_to_file(const std::wstring& path) override { std::ofstream(path.c_str()) << "edat"; }
        std::vector<std::uint8_t> unpack_data() override { return {}; }
    };
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
    EXPECT_TRUE(log.has("Microstub not DSA verified, skip get cookie"));
    EXPECT_TRUE(log.has("Microstub not DSA verified, skip copy edat files"));
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
