// Conditions against the real machine: files, folders, devices, the
// prefix's Windows version and this program's own version resource.
#include <gtest/gtest.h>

#include <windows.h>

#include "framework/errors.hpp"
#include "framework/path.hpp"
#include "framework/uuid.hpp"
#include "repository/conditions/condition_kinds.hpp"
#include "win/file_system.hpp"
#include "win/handle.hpp"

using namespace qzr;
using namespace qzr::repository;
using namespace qzr::repository::conditions;

namespace {

class ConditionsWin : public ::testing::Test {
protected:
    basic_context context;
    std::wstring dir;

    void SetUp() override {
        context.factory = make_condition_factory();
        context.expander = std::make_shared<light_expander>();
        context.host = running_host();
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir = path::join(tmp, L"cond-" + uuid::to_wstring(uuid::random_uuid()));
        ASSERT_TRUE(win::create_directories(dir));
        write(L"full.txt", "content");
        write(L"empty.txt", "");
    }
    void TearDown() override {
        DeleteFileW(path::join(dir, L"full.txt").c_str());
        DeleteFileW(path::join(dir, L"empty.txt").c_str());
        RemoveDirectoryW(dir.c_str());
    }
    void write(const wchar_t* name, const std::string& data) {
        HANDLE h = CreateFileW(path::join(dir, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n;
        WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
        CloseHandle(h);
    }
    bool eval(const std::wstring& inner) {
        pugi::xml_document doc;
        EXPECT_TRUE(doc.load_string((L"<conditions>" + inner + L"</conditions>").c_str()));
        condition_root root;
        root.load(doc.first_child(), context);
        return root.evaluate(context);
    }
    std::wstring file(const wchar_t* name) const { return path::join(dir, name); }
};

}  // namespace

TEST_F(ConditionsWin, FilesFoldersAndDevices) {
    EXPECT_TRUE(eval(L"<file path='" + file(L"full.txt") + L"' exists='true'/>"));
    EXPECT_FALSE(eval(L"<file path='" + dir + L"' exists='true'/>")) << "a folder is not a file";
    EXPECT_TRUE(eval(L"<file path='" + dir + L"' exists='true' type='device'/>"));
    EXPECT_TRUE(eval(L"<file path='" + file(L"missing.txt") + L"' exists='false'/>"));
    EXPECT_TRUE(eval(L"<file path='" + file(L"missing\\deeper.txt") + L"' exists='false' type='device'/>"));
    EXPECT_TRUE(eval(L"<file path='" + file(L"empty.txt") + L"' empty='true'/>"));
    EXPECT_TRUE(eval(L"<file path='" + file(L"full.txt") + L"' empty='false'/>"));
    EXPECT_TRUE(eval(L"<file path='\\\\.\\NUL' exists='true' type='device'/>"));
}

TEST_F(ConditionsWin, TheRunningSystem) {
    const auto& os = running_host()->os();
    EXPECT_TRUE(eval(L"<os platform='x64' type='workstation'/>"));
    EXPECT_TRUE(eval(L"<os major='" + std::to_wstring(os.major) + L"' minor='" + std::to_wstring(os.minor) + L"'/>"));
    EXPECT_TRUE(eval(L"<os-at-least major='6' minor='1'/>"));
    EXPECT_FALSE(eval(L"<os-at-most major='5'/>"));
    EXPECT_TRUE(eval(L"<os-at-least build='" + std::to_wstring(os.build) + L"'/>"));
}

TEST_F(ConditionsWin, TestProgramsCarryNoBrand) {
    // Only the stub has the version resource that names a brand.
    EXPECT_FALSE(running_host()->stub_brand());
    pugi::xml_document doc;
    doc.load_string(L"<conditions><brand name='kavro'/></conditions>");
    condition_root root;
    root.load(doc.first_child(), context);
    EXPECT_THROW(root.evaluate(context), qzr::exceptions::error);
}

TEST_F(ConditionsWin, TheStubsVersionResourceNamesItsBrand) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring stub = path::join(path::parent(std::wstring(self, n)), L"veltro_sfx.exe");
    const win::module_handle image(LoadLibraryExW(stub.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(image);
    EXPECT_EQ(brand_of_module(image.get()), brand::odrano) << "the default brand of the build";
    EXPECT_EQ(brand_folder_name(brand_of_module(image.get())), L"Odrano");
    EXPECT_FALSE(brand_of_module(nullptr)) << "test programs carry no version resource";
}
