#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "../support/silent_reporting.hpp"
#include "framework/uuid.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "veltro_sfx_lib/run/sfx_process.hpp"

using namespace qzr::sfx;

namespace {

// Everything the fakes saw, in order.
struct journal {
    std::vector<std::wstring> events;  // reporting sends and notable calls
    std::vector<std::pair<std::wstring, std::wstring>> info;  // hand-over elements
    std::wstring saved_to;
    std::optional<bool> temp_delete_flag;
    std::wstring launched_program, launched_args;
    std::wstring bug_report_folder;
    std::optional<bool> reboot;
    std::optional<std::uint32_t> ret_code;
    std::wstring temp_path = L"C:\\Windows\\Temp\\qzr-x";
    std::vector<std::wstring> splash_calls;
    bool payload_read = false;
    // The executable as the payload opened it; the signature must be checked
    // over these very bytes.
    std::vector<std::uint8_t> image{'M', 'Z', 's', 't', 'u', 'b'};
    bool image_unmappable = false;
};

struct fake_reporting : qzr::test::silent_reporting {
    journal& j;
    explicit fake_reporting(journal& j) : j(j) {}
    void set_temp_path(const std::wstring& p) override { j.events.push_back(L"temp-path:" + p); }
    void set_reboot(bool r) override { j.reboot = r; }
    void set_ret_code(std::int32_t c) override { j.ret_code = static_cast<std::uint32_t>(c); }
    void send(const std::string& e) override { j.events.push_back(std::wstring(e.begin(), e.end())); }
};

struct fake_signature_factory : verify_signature_intf::factory {
    bool result = true;
    journal& j;
    explicit fake_signature_factory(journal& j) : j(j) {}
    std::shared_ptr<verify_signature_intf> create() const override {
        struct v : verify_signature_intf {
            bool r;
            journal& j;
            v(bool r, journal& j) : r(r), j(j) {}
            bool dsa_signed(const std::wstring& path) override {
                j.events.push_back(L"verify-path:" + path);
                return false;
            }
            bool dsa_signed_any(const std::wstring&) override { return false; }
            bool dsa_signed_handle(void*) override { return false; }
            bool dsa_signed_block(const std::uint8_t*, std::size_t) override {
                j.events.push_back(L"verify:other-bytes");
                return r;
            }
            // The bytes the payload opened, in place.
            bool dsa_signed_source(qzr::byte_source& data) override {
                const bool opened_bytes =
                    data.size() == j.image.size() && (j.image.empty() || data.window(0, 1).data() == j.image.data());
                j.events.push_back(opened_bytes ? L"verify:opened-image" : L"verify:other-bytes");
                return r;
            }
        };
        return std::make_shared<v>(result, j);
    }
};

struct fake_temp_factory : temp_dir_intf::factory {
    journal& j;
    explicit fake_temp_factory(journal& j) : j(j) {}
    std::shared_ptr<temp_dir_intf> create(bool del) const override {
        j.temp_delete_flag = del;
        struct t : temp_dir_intf {
            journal& j;
            explicit t(journal& j) : j(j) {}
            ~t() override { j.events.push_back(L"temp-removed"); }
            std::wstring path() const override { return j.temp_path; }
        };
        return std::make_shared<t>(j);
    }
};

struct fake_payload_factory : payload_intf::factory {
    journal& j;
    explicit fake_payload_factory(journal& j) : j(j) {}
    std::shared_ptr<payload_intf> create(const std::wstring& path) const override {
        j.events.push_back(L"open:" + path);
        struct p : payload_intf {
            journal& j;
            explicit p(journal& j) : j(j), source(qzr::byte_view(j.image.data(), j.image.size())) {}
            qzr::view_source source;
            qzr::byte_source& image() override {
                if (j.image_unmappable) throw qzr::exceptions::error(87, "narrowing_error");
                return source;
            }
            void load(veltro_info_intf& info) override {
                j.payload_read = true;
                pugi::xml_document d;
                info.add_node(d.append_child(L"file-list"));
            }
            std::shared_ptr<unpacker_intf> find_by_sha(const std::wstring&) override { return nullptr; }
            std::shared_ptr<unpacker_intf> find_by_alias(const std::wstring&) override { return nullptr; }
            std::vector<std::wstring> aliases() const override { return {}; }
        };
        return std::make_shared<p>(j);
    }
};

struct fake_info_factory : veltro_info_intf::factory {
    journal& j;
    bool save_result = true;
    explicit fake_info_factory(journal& j) : j(j) {}
    std::shared_ptr<veltro_info_intf> create() const override {
        struct i : veltro_info_intf {
            journal& j;
            bool ok;
            i(journal& j, bool ok) : j(j), ok(ok) {}
            void add_node(const pugi::xml_node& n) override { j.info.emplace_back(n.name(), n.text().get()); }
            void add_attribute(const pugi::xml_attribute&) override {}
            bool save(const std::wstring& path) override {
                j.saved_to = path;
                return ok;
            }
        };
        return std::make_shared<i>(j, save_result);
    }
};

struct fake_prepare_factory : prepare_setup_intf::factory {
    std::function<void(std::wstring&, const prepare_setup_intf::show_splash_callback&,
                       const prepare_setup_intf::progress_callback&, const sfx_data_holder&)>
        body;
    std::shared_ptr<prepare_setup_intf> create(const sfx_data_holder& ctx) const override {
        struct p : prepare_setup_intf {
            const fake_prepare_factory& f;
            sfx_data_holder ctx;
            p(const fake_prepare_factory& f, sfx_data_holder c) : f(f), ctx(std::move(c)) {}
            void prepare(std::wstring& m, const show_splash_callback& s, const progress_callback& pr) override {
                f.body(m, s, pr, ctx);
            }
        };
        return std::make_shared<p>(*this, ctx);
    }
};

struct fake_launcher_factory : secure_process_launcher_intf::factory {
    journal& j;
    std::uint32_t exit_code = 0;
    bool fail = false;
    explicit fake_launcher_factory(journal& j) : j(j) {}
    std::shared_ptr<secure_process_launcher_intf> create(const sfx_data_holder&) const override {
        struct l : secure_process_launcher_intf {
            const fake_launcher_factory& f;
            explicit l(const fake_launcher_factory& f) : f(f) {}
            std::uint32_t run_process(const std::wstring& prog, const std::wstring& args, std::uint32_t timeout) override {
                EXPECT_EQ(timeout, infinite);
                f.j.launched_program = prog;
                f.j.launched_args = args;
                if (f.fail) throw qzr::exceptions::error(2, "cannot start");
                return f.exit_code;
            }
            void wait_for_bug_report(const std::wstring& folder) override { f.j.bug_report_folder = folder; }
        };
        return std::make_shared<l>(*this);
    }
};

using qzr::features::splash::gif_wnd_data_intf;
using qzr::features::splash::gif_wnd_intf;

struct fake_splash_data_factory : gif_wnd_data_intf::factory {
    std::shared_ptr<gif_wnd_data_intf> create(const std::wstring& caption, const std::wstring& title) const override {
        struct d : gif_wnd_data_intf {
            std::wstring caption_, title_;
            std::uint32_t colour = 0;
            qzr::byte_view gif() const override { return {}; }
            void* icon() const override { return nullptr; }
            std::wstring caption() const override { return caption_; }
            std::wstring title() const override { return title_; }
            int text_top() const override { return 100; }
            std::uint32_t text_colour() const override { return colour; }
            void set_text_colour(std::uint32_t c) override { colour = c; }
        };
        auto data = std::make_shared<d>();
        data->caption_ = caption;
        data->title_ = title;
        return data;
    }
};

struct fake_splash_factory : gif_wnd_intf::factory {
    journal& j;
    explicit fake_splash_factory(journal& j) : j(j) {}
    std::shared_ptr<gif_wnd_intf> create(const std::shared_ptr<gif_wnd_data_intf>& data) const override {
        j.splash_calls.push_back(L"create:" + data->caption() + L":" + data->title() + L":" +
                                 std::to_wstring(data->text_colour()));
        struct s : gif_wnd_intf {
            journal& j;
            explicit s(journal& j) : j(j) {}
            bool start(bool show) override {
                j.splash_calls.push_back(L"start:" + std::to_wstring(show));
                return true;
            }
            void stop() override { j.splash_calls.push_back(L"stop"); }
            void show() override { j.splash_calls.push_back(L"show"); }
            void hide() override { j.splash_calls.push_back(L"hide"); }
            void set_text(const std::wstring& t) override { j.splash_calls.push_back(L"text:" + t); }
            void set_progress(std::int32_t p) override { j.splash_calls.push_back(L"progress:" + std::to_wstring(p)); }
            std::int32_t prevent_pinning() override {
                j.splash_calls.push_back(L"nopin");
                return 0;
            }
        };
        return std::make_shared<s>(j);
    }
};

struct fake_host : sfx_process_host_intf {
    std::int32_t ui_language = 1049;
    std::int32_t user_default_ui_language() const override { return ui_language; }
    std::uint32_t current_process_id() const override { return 4242; }
    std::shared_ptr<void> disable_fs_redirection() const override { return nullptr; }
    std::uint32_t splash_colour() const override { return 0xFEFEFE; }
};

struct fake_proxy : sfx_proxy_parser_intf {
    qzr::http::ProxySettings held;
    bool has_settings() const override { return true; }
    const qzr::http::ProxySettings& settings() const override { return held; }
};

struct throwing_migrate : sfx_migrate_cmd_params::factory {
    std::shared_ptr<sfx_migrate_cmd_params_intf> create() const override { throw std::runtime_error("broken"); }
};

class RunDriver : public ::testing::Test {
protected:
    journal j;
    std::shared_ptr<fake_signature_factory> signature = std::make_shared<fake_signature_factory>(j);
    std::shared_ptr<fake_prepare_factory> prepare = std::make_shared<fake_prepare_factory>();
    std::shared_ptr<fake_launcher_factory> launcher = std::make_shared<fake_launcher_factory>(j);
    std::shared_ptr<fake_info_factory> info = std::make_shared<fake_info_factory>(j);
    std::shared_ptr<fake_host> host = std::make_shared<fake_host>();
    sfx_collaborators c;
    std::shared_ptr<sfx_proxy_parser_intf> proxy;

    void SetUp() override {
        c.signature = signature;
        c.temp_dir = std::make_shared<fake_temp_factory>(j);
        c.values = std::make_shared<value_holder::factory>();
        c.payload = std::make_shared<fake_payload_factory>(j);
        c.splash = std::make_shared<fake_splash_factory>(j);
        c.splash_data = std::make_shared<fake_splash_data_factory>();
        c.prepare = prepare;
        c.launcher = launcher;
        c.info = info;
        c.migrate = std::make_shared<sfx_migrate_cmd_params::factory>();
        c.translator = std::make_shared<sfx_translator::factory>();
        c.host = host;
        prepare_master(L"\"C:\\Windows\\Temp\\qzr-x\\p\\veltro.exe\" /lang-id:1033 /mode:full");
    }

    void prepare_master(std::wstring master) {
        prepare->body = [master](std::wstring& m, auto&, auto&, const sfx_data_holder&) { m = master; };
    }

    std::shared_ptr<sfx_process> driver() {
        return std::make_shared<sfx_process>(c, std::make_shared<fake_reporting>(j), proxy, L"client-1");
    }

    std::uint32_t run(const std::wstring& args) { return driver()->run(L"C:\\dl\\setup.exe", args); }

    bool sent(const std::wstring& e) const { return std::find(j.events.begin(), j.events.end(), e) != j.events.end(); }
};

}  // namespace

TEST_F(RunDriver, UnsignedStubStopsBeforeThePayload) {
    signature->result = false;
    try {
        run(L"/silent");
        FAIL();
    } catch (const exceptions::sfx_invalid_signature& e) {
        EXPECT_EQ(e.code(), 44024);
    }
    EXPECT_FALSE(j.payload_read);
    EXPECT_FALSE(sent(L"sfx-preparing"));
    const std::vector<std::wstring> order{L"open:C:\\dl\\setup.exe", L"verify:opened-image"};
    EXPECT_EQ(j.events, order) << "the signature is checked over the opened image, not the path";
}

TEST_F(RunDriver, AnImageTooLargeToMapIsNotSigned) {
    j.image_unmappable = true;
    EXPECT_THROW(run(L"/silent"), exceptions::sfx_invalid_signature);
    EXPECT_FALSE(j.payload_read);
}

TEST_F(RunDriver, HandOverAndSetupMasterCommandLine) {
    launcher->exit_code = 0;
    EXPECT_EQ(run(L"/lang-id:1031 /silent /DIR:C:\\x loose"), 0u);
    const std::vector<std::pair<std::wstring, std::wstring>> expected_info{
        {L"file-list", L""},
        {L"sfx-cmd", L"/lang-id:1031 /silent /install-path:C:\\x loose"},
        {L"session-id", L"client-1"},
        {L"temp-base-dir", L"C:\\Windows\\Temp\\qzr-x"},
    };
    EXPECT_EQ(j.info, expected_info);
    EXPECT_EQ(j.saved_to, L"C:\\Windows\\Temp\\qzr-x\\veltro-info.xml");
    EXPECT_EQ(j.launched_program, L"C:\\Windows\\Temp\\qzr-x\\p\\veltro.exe");
    // The stub's value wins for lang-id; silent comes once, from the stub.
    EXPECT_EQ(j.launched_args,
              L"/lang-id:1031 /mode:full /veltro-info-path:C:\\Windows\\Temp\\qzr-x\\veltro-info.xml /install "
              L"/silent /install-path:C:\\x loose");
    EXPECT_EQ(*j.temp_delete_flag, true);
    EXPECT_EQ(j.bug_report_folder, L"");
    EXPECT_EQ(j.ret_code, 0u);
    const std::vector<std::wstring> order{L"open:C:\\dl\\setup.exe", L"verify:opened-image",
                                          L"temp-path:C:\\Windows\\Temp\\qzr-x",
                                          L"sfx-preparing", L"sfx-running-veltro", L"sfx-finish", L"temp-removed"};
    EXPECT_EQ(j.events, order);
}

TEST_F(RunDriver, RunParametersSilentAndClearAndTheLanguage) {
    prepare->body = [&](std::wstring& m, auto&, auto&, const sfx_data_holder& ctx) {
        m = L"veltro.exe /install:keep";
        ctx.params->set_bool(L"silent", true);
        ctx.params->set_bool(L"clear", true);
        EXPECT_EQ(ctx.params->get_int(L"lang-id", 0), 1033);  // 9999 is not a known language
        EXPECT_EQ(ctx.params->get(L"process-path", L""), L"C:\\dl\\setup.exe");
        EXPECT_EQ(ctx.params->get(L"session-id", L""), L"client-1");
    };
    run(L"/lang-id:9999");
    EXPECT_EQ(j.launched_args,
              L"/install:keep /veltro-info-path:C:\\Windows\\Temp\\qzr-x\\veltro-info.xml /clear /lang-id:9999 /silent");
}

TEST_F(RunDriver, LanguageFallsBackToTheUserInterfaceLanguage) {
    std::int32_t seen = 0;
    prepare->body = [&](std::wstring& m, auto&, auto&, const sfx_data_holder& ctx) {
        m = L"veltro.exe";
        seen = ctx.params->get_int(L"lang-id", 0);
    };
    run(L"");
    EXPECT_EQ(seen, 1049);
    EXPECT_EQ(j.launched_args, L"/veltro-info-path:C:\\Windows\\Temp\\qzr-x\\veltro-info.xml /install");
    EXPECT_EQ(choose_language(command_line(L"/language:1031", false), 5), 1031);
    EXPECT_EQ(choose_language(command_line(L"/language:1031 /lang-id:1036", false), 5), 1036);
    EXPECT_EQ(choose_language(command_line(L"/lang-id:abc", false), 5), 1033);
}

TEST_F(RunDriver, XperfKeepsTheTemporaryFolder) {
    run(L"/XPERF");
    EXPECT_EQ(*j.temp_delete_flag, false);
}

TEST_F(RunDriver, SplashAddsSssidAndShowsProgress) {
    prepare->body = [&](std::wstring& m, const prepare_setup_intf::show_splash_callback& show,
                        const prepare_setup_intf::progress_callback& progress, const sfx_data_holder&) {
        show(L"Product");
        progress(40);
        m = L"veltro.exe";
    };
    run(L"");
    EXPECT_NE(j.launched_args.find(L"/sssid:4242"), std::wstring::npos);
    const std::vector<std::wstring> calls{L"create:@Sfx_Title:Product:16711422", L"start:1", L"nopin", L"text:Product... 40%",
                                          L"progress:40", L"text:Product... @Sfx_Starting", L"progress:-1", L"stop"};
    EXPECT_EQ(j.splash_calls, calls);
}

TEST_F(RunDriver, ProxySettingsAreHandedOn) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / (L"proxy-" + qzr::uuid::to_wstring(qzr::uuid::random_uuid()));
    fs::create_directories(folder);
    auto held = std::make_shared<fake_proxy>();
    held->held.proxy_type = 2;
    held->held.proxy_name = "proxy.example";
    held->held.port = 3128;
    held->held.user_password = "p\xC3\xA4ss";
    proxy = held;
    j.temp_path = folder.wstring() + static_cast<wchar_t>(fs::path::preferred_separator);
    run(L"");
    const std::wstring written = j.temp_path + L"proxy.ini";
    EXPECT_NE(j.launched_args.find(L"/proxy_ini:" + written), std::wstring::npos);
    std::ifstream in(fs::path(written), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto read = qzr::http::parse_proxy_ini(bytes);
    EXPECT_EQ(read.proxy_type, 2);
    EXPECT_EQ(read.proxy_name, "proxy.example");
    EXPECT_EQ(read.port, 3128);
    EXPECT_EQ(read.user_password, "p\xC3\xA4ss");
    in.close();

    // A file that cannot be written stops the run before the setup master.
    j = journal{};
    j.temp_path = (folder / L"missing").wstring() + static_cast<wchar_t>(fs::path::preferred_separator);
    std::int32_t code = 0;
    try {
        run(L"");
    } catch (const qzr::exceptions::error& e) {
        code = e.code();
    }
    EXPECT_GT(code, 0) << "the system's error of the failed save";
    EXPECT_TRUE(j.launched_program.empty());
    EXPECT_FALSE(sent(L"sfx-running-veltro"));
    fs::remove_all(folder);
}

TEST_F(RunDriver, BugReportWaitAndRestartRules) {
    EXPECT_FALSE(waits_for_bug_report(0));
    EXPECT_FALSE(waits_for_bug_report(111111));
    EXPECT_FALSE(waits_for_bug_report(0xFFFFFFFE));
    EXPECT_FALSE(waits_for_bug_report(44000));
    EXPECT_FALSE(waits_for_bug_report(45999));
    EXPECT_TRUE(waits_for_bug_report(1));
    EXPECT_TRUE(waits_for_bug_report(43999));
    EXPECT_TRUE(waits_for_bug_report(46000));
    EXPECT_TRUE(waits_for_bug_report(0xE06D7363));

    launcher->exit_code = 1;
    EXPECT_EQ(run(L""), 1u);
    EXPECT_EQ(j.bug_report_folder, L"C:\\Windows\\Temp\\qzr-x\\common");

    j = journal{};
    launcher->exit_code = 44080;
    EXPECT_EQ(run(L""), 44080u);
    EXPECT_EQ(j.reboot, true);
    EXPECT_EQ(j.bug_report_folder, L"");
    EXPECT_EQ(j.ret_code, 44080u);
}

TEST_F(RunDriver, DeclinedConfirmationEndsNormally) {
    prepare->body = [](std::wstring&, auto&, auto&, const sfx_data_holder&) { throw exceptions::ppi_cancel(); };
    EXPECT_EQ(run(L""), 1223u);
    EXPECT_TRUE(sent(L"sfx-finish"));
    EXPECT_EQ(j.ret_code, 1223u);
    EXPECT_TRUE(j.launched_program.empty());
}

TEST_F(RunDriver, AbortedConfirmationAndLaunchFailuresPassOn) {
    prepare->body = [](std::wstring&, auto&, auto&, const sfx_data_holder&) { throw exceptions::ppi_abort(1602); };
    EXPECT_THROW(run(L""), exceptions::ppi_abort);
    EXPECT_FALSE(sent(L"sfx-finish"));
    EXPECT_TRUE(sent(L"temp-removed"));

    j = journal{};
    SetUp();
    launcher->fail = true;
    EXPECT_THROW(run(L""), qzr::exceptions::error);
    EXPECT_FALSE(sent(L"sfx-finish"));
}

TEST_F(RunDriver, NoSetupMasterIsAClearError) {
    prepare_master(L"");
    try {
        run(L"");
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), 2);
    }
    EXPECT_TRUE(j.launched_program.empty());
}

TEST_F(RunDriver, UnsavedHandOverStopsTheRun) {
    info->save_result = false;
    EXPECT_THROW(run(L""), qzr::exceptions::error);
    EXPECT_TRUE(j.launched_program.empty());
}

TEST_F(RunDriver, BrokenMigrationKeepsTheArguments) {
    c.migrate = std::make_shared<throwing_migrate>();
    run(L"/VERYSILENT");
    EXPECT_EQ(j.info[1], (std::pair<std::wstring, std::wstring>{L"sfx-cmd", L"/VERYSILENT"}));
}
