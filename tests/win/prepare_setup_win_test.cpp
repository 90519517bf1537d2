// Setup preparation over an in-memory payload, offline: which lookups it
// makes per placed file, and what the run context carries to later steps.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>

#include "../support/log_capture.hpp"
#include "../support/memory_payload.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "repository/conditions/host_facts.hpp"
#include "veltro_sfx_lib/description/product_info_parser.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"
#include "veltro_sfx_lib/setup/prepare_setup.hpp"
#include "veltro_sfx_lib/payload/temp_dir.hpp"

using namespace qzr;
using namespace qzr::sfx;

namespace {

struct accepting_verifier : verify_signature_intf::factory {
    std::shared_ptr<verify_signature_intf> create() const override {
        struct v : verify_signature_intf {
            bool dsa_signed_handle(void*) override { return true; }
            bool dsa_signed_block(const std::uint8_t*, std::size_t) override { return true; }
            bool dsa_signed_source(byte_source&) override { return true; }
            bool dsa_signed(const std::wstring&) override { return true; }
            bool dsa_signed_any(const std::wstring&) override { return true; }
        };
        return std::make_shared<v>();
    }
};

// Fails every download, unless told to place setup files (writing their
// digest text into them, in two halves of progress).
struct scripted_downloader : sfx_downloader_intf {
    bool places_files = false;
    progress_callback progress;
    std::shared_ptr<product_info_parser_intf> download_product_info(const std::wstring&) override {
        throw qzr::exceptions::error("offline");
    }
    file_hold download_product_lzma_file(const std::wstring& sha, const std::wstring& target,
                                         const std::wstring&) override {
        if (!places_files) throw qzr::exceptions::error("offline");
        std::ofstream(target.c_str(), std::ios::binary) << utf::to_utf8(sha);
        if (progress) progress(1, 2), progress(1, 2);
        return nullptr;
    }
    void download_file(const std::wstring&, const std::wstring&, int, bool, bool) override {
        throw qzr::exceptions::error("offline");
    }
    void set_progress_callback(progress_callback callback) override { progress = std::move(callback); }
    double average_speed() const override { return 0; }
};

struct offline_downloader : sfx_downloader_intf::factory {
    std::shared_ptr<scripted_downloader> made = std::make_shared<scripted_downloader>();
    std::shared_ptr<sfx_downloader_intf> create(const sfx_data_holder&) const override { return made; }
};

// Records what the microstub is asked, and which contexts saw it.
struct journal_microstub : microstub_intf {
    std::vector<std::string> calls;
    bool verify() override {
        calls.push_back("verify");
        return true;
    }
    std::wstring get_cookie() override {
        calls.push_back("get_cookie");
        return L"";
    }
    void copy_edat_files() override { calls.push_back("copy_edat_files"); }
};

struct journal_microstub_factory : microstub_intf::factory {
    std::shared_ptr<journal_microstub> made = std::make_shared<journal_microstub>();
    mutable int created = 0;
    std::shared_ptr<microstub_intf> create(const sfx_data_holder&) const override {
        ++created;
        return made;
    }
};

struct context_watching_evaluator : master_setup_evaluator_intf::factory {
    mutable std::vector<std::shared_ptr<microstub_intf>> seen;
    std::shared_ptr<master_setup_evaluator_intf> create(const sfx_data_holder& context) const override {
        seen.push_back(context.microstub);
        return master_setup_evaluator::factory().create(context);
    }
};

// Answers the confirmation with a chosen result and records what it showed.
struct answering_dialog : confirm_dlg_intf::factory {
    mutable std::int32_t answer = confirm_dlg_intf::install;
    mutable std::vector<std::pair<std::wstring, std::int32_t>> shown;
    std::shared_ptr<confirm_dlg_intf> create() const override {
        struct d : confirm_dlg_intf {
            const answering_dialog& f;
            explicit d(const answering_dialog& f) : f(f) {}
            std::int32_t show(const std::wstring& title, std::int32_t language) override {
                f.shown.emplace_back(title, language);
                return f.answer;
            }
        };
        return std::make_shared<d>(*this);
    }
};

const std::string sfx_info = R"(<?xml version="1.0" encoding="utf-8"?>
<sfx-info><products><product name="demo" channel="release" version="1.0"/></products></sfx-info>
)";

std::string product_info(const std::string& files, const std::string& commands) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><product-info><name>demo</name><setup-files>" + files +
           "</setup-files>" + commands + "</product-info>";
}

class PrepareSetup : public ::testing::Test {
protected:
    std::shared_ptr<temp_dir> tmp = std::make_shared<temp_dir>(true);
    std::shared_ptr<test::memory_payload> payload = std::make_shared<test::memory_payload>();
    std::shared_ptr<journal_microstub_factory> microstubs = std::make_shared<journal_microstub_factory>();
    std::shared_ptr<context_watching_evaluator> evaluators = std::make_shared<context_watching_evaluator>();
    std::shared_ptr<answering_dialog> dialog = std::make_shared<answering_dialog>();
    sfx_data_holder context;

    void SetUp() override {
        auto params = std::make_shared<value_holder>();
        params->set(keys::tmp_path, tmp->path());
        context.params = params;
        context.command = std::make_shared<command_line>(L"/offline /silent", false);
        context.payload = payload;
        payload->entries[L"sfx-info.xml"] = sfx_info;
        payload->on_unpack = [](const std::wstring& target, const std::string& data) {
            std::ofstream(target.c_str(), std::ios::binary) << data;
        };
    }

    std::shared_ptr<offline_downloader> downloads = std::make_shared<offline_downloader>();

    std::wstring prepare(const prepare_setup_intf::progress_callback& progress = nullptr) {
        prepare_setup p(context, {std::make_shared<accepting_verifier>(), downloads,
                                  std::make_shared<product_info_parser::factory>(repository::conditions::running_host()),
                                  evaluators, microstubs, dialog});
        std::wstring master;
        p.prepare(master, nullptr, progress);
        return master;
    }
};

std::size_t count(const test::log_capture& log, const std::string& message) {
    std::size_t n = 0;
    for (const auto& line : log.lines()) n += line.message == message;
    return n;
}

}  // namespace

// The setup-commands element is looked up for each placed file, as the file
// is evaluated: its absence is reported once per file, and not at all when
// no file is placed.
TEST_F(PrepareSetup, SetupCommandsAreLookedUpOncePerPlacedFile) {
    const std::string missing = "The <setup-commands> element is not presented in product-info.xml!";
    payload->entries[L"a.bin"] = "a";
    payload->entries[L"b.bin"] = "b";
    payload->entries[L"demo/release.xml"] =
        product_info("<file><name>a.bin</name><sha-256>00</sha-256><size>1</size></file>"
                     "<file><name>b.bin</name><sha-256>01</sha-256><size>1</size></file>",
                     "");
    {
        test::log_capture log;
        EXPECT_EQ(prepare(), L"");
        EXPECT_EQ(count(log, missing), 2u);
        EXPECT_TRUE(log.has(log::level_error, missing));
    }
    payload->entries[L"demo/release.xml"] = product_info("", "");
    test::log_capture log;
    prepare();
    EXPECT_EQ(count(log, missing), 0u);
}

// The microstub is made once, kept in the run context for the later steps
// (the evaluator is created after it and sees it), and copies its EDAT
// files at the end.
TEST_F(PrepareSetup, TheMicrostubStaysInTheRunContext) {
    payload->entries[L"demo/release.xml"] = product_info("", "<setup-commands executable=\"veltro.exe\"/>");
    prepare();
    EXPECT_EQ(microstubs->created, 1);
    EXPECT_EQ(microstubs->made->calls, (std::vector<std::string>{"verify", "get_cookie", "copy_edat_files"}));
    ASSERT_EQ(evaluators->seen.size(), 1u);
    EXPECT_EQ(evaluators->seen.front(), microstubs->made);
}

// With /ppi_icd the user is asked before anything is placed: Install goes
// on, Cancel ends the run as declined, a dialog that could not be shown ends
// it silently with its result.
TEST_F(PrepareSetup, TheConfirmationDecidesWhetherToInstall) {
    payload->entries[L"a.bin"] = "a";
    payload->entries[L"demo/release.xml"] =
        product_info("<file><name>a.bin</name><sha-256>00</sha-256><size>1</size></file>",
                     "<setup-commands executable=\"a.bin\"/>");
    context.params->set_int(keys::lang_id, 1031);
    context.command = std::make_shared<command_line>(L"/offline /silent /ppi_icd", false);

    dialog->answer = confirm_dlg_intf::cancel;
    {
        test::log_capture log;
        EXPECT_THROW(prepare(), sfx::exceptions::ppi_cancel);
        EXPECT_TRUE(log.has(log::level_info, "PPI dialog return 2"));
    }
    EXPECT_EQ(::GetFileAttributesW(path::join(tmp->path(), L"common\\a.bin").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(dialog->shown.size(), 1u);
    EXPECT_EQ(dialog->shown.front().second, 1031);

    dialog->answer = confirm_dlg_intf::not_shown;
    try {
        prepare();
        ADD_FAILURE() << "no abort";
    } catch (const sfx::exceptions::ppi_abort& e) {
        EXPECT_EQ(e.code(), 1);
    }

    dialog->answer = confirm_dlg_intf::install;
    EXPECT_NE(prepare().find(L"a.bin"), std::wstring::npos);

    // Without the switch nobody is asked.
    context.command = std::make_shared<command_line>(L"/offline /silent", false);
    dialog->shown.clear();
    prepare();
    EXPECT_TRUE(dialog->shown.empty());
}

// A payload entry that cannot be extracted is downloaded instead, offline
// too. When that fails as well, the run ends with what went wrong while
// extracting (a full disk, say), not with the download's failure.
TEST_F(PrepareSetup, AnEntryThatCannotBeExtractedIsDownloaded) {
    payload->entries[L"a.bin"] = "a";
    payload->entries[L"demo/release.xml"] =
        product_info("<file><name>a.bin</name><sha-256>0a</sha-256><size>1</size></file>",
                     "<setup-commands executable=\"a.bin\"/>");
    payload->on_unpack = [](const std::wstring& target, const std::string& data) {
        if (data == "a") throw qzr::exceptions::error(ERROR_DISK_FULL, "Unable to write to the file!");
        std::ofstream(target.c_str(), std::ios::binary) << data;
    };
    try {
        prepare();
        ADD_FAILURE() << "no failure";
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), ERROR_DISK_FULL);
    }
    downloads->made->places_files = true;
    test::log_capture log;
    std::vector<int> percents;
    EXPECT_NE(prepare([&](std::uint8_t p) { percents.push_back(p); }).find(L"a.bin"), std::wstring::npos);
    EXPECT_EQ(percents, (std::vector<int>{50, 100}));
    EXPECT_FALSE(downloads->made->progress) << "the downloader keeps a finished file's progress function";
    EXPECT_TRUE(log.has(log::level_error, "File 'a.bin' from SFX archive has not been unpacked, fail with error 112!"));
    std::ifstream in(path::join(tmp->path(), L"common\\a.bin").c_str());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "0a");
}
