// The analytics document read back by an independent JSON parser (Python's):
// every escaping rule must leave a document that parses to the texts we
// meant.
#include <gtest/gtest.h>

#include <unistd.h>

#include "../support/host_shell.hpp"
#include "veltro_sfx_lib/reporting/sfx_event.hpp"

namespace {

using namespace qzr;

TEST(EventJson, AnIndependentParserReadsWhatWasMeant) {
    sfx::sfx_event_state s;
    s.set_title(L"Quote \" backslash \\ tab \t bell \x07 line\nend\r umlaut \u00e4 han \u4e2d");
    s.set_cmdline(L"\"C:\\Program Files\\setup.exe\" /channels:be\"ta");
    s.set_temp_path(L"C:\\Temp\\qzr");
    s.add_main_product(L"studio", L"be\"ta\\", false);
    s.add_main_product(L"addon", L"release", false);
    s.set_ret_code(44080);
    sfx::sfx_event_state::machine m;
    m.now_ms = [] { return std::int64_t{1796755000000}; };
    m.request_id = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
    m.hwid = std::string(64, 'F');
    m.available_mib = 10;
    const std::string path = "/tmp/qzr-event-" + std::to_string(::getpid()) + ".json";
    test::write_file(path, s.document("sfx-finish", m));
    const auto r = test::sh("python3 -c '"
                            "import json,sys\n"
                            "d = json.load(open(sys.argv[1], encoding=\"utf-8\"))[\"record\"][0]\n"
                            "s = d[\"setup\"]\n"
                            "print(repr(s[\"common\"][\"title\"]))\n"
                            "print(repr(s[\"config\"][\"cmdline\"]))\n"
                            "print(repr([p[\"channel\"] for p in s[\"config\"][\"main_products\"]]))\n"
                            "print(s[\"finish_state\"][\"ret_code\"], s[\"system\"][\"hdd\"][\"available\"], list(d))\n"
                            "' " + path);
    ::unlink(path.c_str());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output,
              "'Quote \" backslash \\\\ tab \\t bell \\x07 line|end umlaut \xc3\xa4 han \xe4\xb8\xad'\n"
              "'\"C:\\\\Program Files\\\\setup.exe\" /channels:be\"ta'\n"
              "['be\"ta\\\\', 'release']\n"
              "44080 10 ['event', 'setup', 'identity', 'installation', 'platform', 'product']\n");
}

}  // namespace
