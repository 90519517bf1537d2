// The release engineer's guide cannot drift from the tools: every example
// file it shows is the file in docs/examples, every rule example builds, and
// every command marked to run runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/host_shell.hpp"
#include "../support/pe_image.hpp"

#include <pugixml.hpp>

using namespace qzr;

namespace {

namespace fs = std::filesystem;

const fs::path source_dir = QZR_SOURCE_DIR;
const std::string packer = QZR_PACKER;

using test::read_file;
using test::result;
using test::sh;
using test::write_file;

struct block {
    fs::path page;
    int line = 0;         // of the opening fence
    std::string info;     // after the fence
    std::string marker;   // the HTML comment right above the fence, if any
    std::string content;  // with a final line end
};

std::vector<block> blocks_of(const fs::path& page) {
    std::ifstream in(page);
    std::vector<block> out;
    std::string line, previous;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.rfind("```", 0) != 0) {
            if (!line.empty()) previous = line;
            continue;
        }
        block b;
        b.page = page;
        b.line = number;
        b.info = line.substr(3);
        if (previous.rfind("<!--", 0) == 0) b.marker = previous;
        while (std::getline(in, line)) {
            ++number;
            if (line.rfind("```", 0) == 0) break;
            b.content += line + "\n";
        }
        out.push_back(std::move(b));
        previous.clear();
    }
    return out;
}

std::vector<block> guide_blocks() {
    // Pages in name order (the front page first), so that marked commands
    // run in one order everywhere.
    std::vector<fs::path> pages;
    for (const auto& entry : fs::directory_iterator(source_dir / "docs"))
        if (entry.path().extension() == ".md") pages.push_back(entry.path());
    std::sort(pages.begin(), pages.end());
    std::vector<block> all;
    for (const auto& page : pages)
        for (auto& b : blocks_of(page)) all.push_back(std::move(b));
    return all;
}

std::string where(const block& b) { return b.page.filename().string() + ":" + std::to_string(b.line); }

// Runs of blanks and line ends as one blank: CMake wraps its messages, the
// guide its sentences.
std::string one_line(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t')
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    return out;
}

std::string trimmed(std::string s) {
    s.erase(0, s.find_first_not_of(" \t"));
    s.erase(s.find_last_not_of(" \t") + 1);
    return s;
}

class Guide : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        char tmpl[] = "/tmp/qzr-guide-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override { sh("rm -rf '" + dir.string() + "'"); }

    // A copy of the quickstart folder with the two setup files it names and
    // a bare stub beside it.
    fs::path quickstart() {
        const fs::path work = dir / "quickstart";
        fs::copy(source_dir / "docs/examples/quickstart", work, fs::copy_options::recursive);
        const auto master = test::make_pe({});
        write_file((work / "veltro.exe").string(), std::string(master.begin(), master.end()));
        write_file((work / "setup.dat").string(), std::string(20000, 'x'));
        const auto stub = test::make_pe({});
        write_file((dir / "stub.exe").string(), std::string(stub.begin(), stub.end()));
        return work;
    }
};

}  // namespace

TEST_F(Guide, ShownFilesAreTheExampleFiles) {
    int shown = 0;
    for (const auto& b : guide_blocks()) {
        const std::string prefix = "<!-- example: ";
        if (b.marker.rfind(prefix, 0) != 0) continue;
        const std::string path = trimmed(b.marker.substr(prefix.size(), b.marker.find("-->") - prefix.size()));
        ASSERT_TRUE(fs::exists(source_dir / path)) << where(b) << ": " << path;
        EXPECT_EQ(b.content, read_file((source_dir / path).string())) << where(b) << " shows " << path;
        ++shown;
    }
    EXPECT_GE(shown, 1);
}

TEST_F(Guide, EveryRuleExampleIsAcceptedByTheBuild) {
    const fs::path work = quickstart();
    int rules = 0;
    for (const auto& b : guide_blocks()) {
        if (trimmed(b.info) != "xml condition") continue;
        ++rules;
        std::ostringstream manifest;
        manifest << read_file((work / "release.toml").string()) << "\n[[setup-files]]\nconditions = '''\n"
                 << b.content << "'''\n\n[[setup-files.file]]\nname = \"rule-check.dat\"\nsource = \"setup.dat\"\n";
        write_file((work / "rules.toml").string(), manifest.str());
        const result r = sh("cd '" + work.string() + "' && " + packer + " build rules.toml --check --stub '" +
                            (dir / "stub.exe").string() + "' 2>&1");
        EXPECT_EQ(r.status, 0) << where(b) << ":\n" << b.content << r.output;
    }
    EXPECT_GE(rules, 10) << "the guide shows an example of every rule kind";
}

// Commands marked "run with the stub" need the real stub (Authenticode
// signing needs room in its header); they run when the win32 build is there,
// as it is in `make test`.
TEST_F(Guide, MarkedCommandsRun) {
    const fs::path work = quickstart();
    const std::string tools = fs::path(packer).parent_path().string();
    const fs::path real_stub = source_dir / "build/win32/bin/veltro_sfx.exe";
    const bool have_real_stub = fs::exists(real_stub);
    const std::string stub = have_real_stub ? real_stub.string() : (dir / "stub.exe").string();
    int ran = 0, left = 0;
    for (const auto& b : guide_blocks()) {
        const bool needs_stub = b.marker == "<!-- run with the stub -->";
        if (b.marker != "<!-- run -->" && !needs_stub) continue;
        if (needs_stub && !have_real_stub) {
            ++left;
            continue;
        }
        ++ran;
        write_file((dir / "step.sh").string(), b.content);
        const result r = sh("cd '" + work.string() + "' && PATH='" + tools + "':$PATH STUB='" + stub + "' sh -e '" +
                            (dir / "step.sh").string() + "' 2>&1");
        EXPECT_EQ(r.status, 0) << where(b) << ":\n" << b.content << r.output;
    }
    EXPECT_GE(ran, 1);
    if (left) GTEST_SKIP() << left << " commands need the win32 stub, which is not built";
}

// The guide names the report host a fresh build of the stub has, and the
// setting that changes it; the shipped stub, configured for release with a
// loopback host, warns in the words the guide quotes.
TEST_F(Guide, TheReportHostIsTheBuildsAndAReleaseBuildWarnsOfLoopback) {
    if (sh("command -v i686-w64-mingw32-g++-posix").status != 0) GTEST_SKIP() << "no MinGW-w64 i686 compiler";
    const fs::path build = dir / "win32";
    const auto configure = [&](const std::string& options) {
        return sh("cd '" + source_dir.string() + "' && cmake --preset win32 -B '" + build.string() + "' " + options);
    };
    const result fresh = configure("");
    ASSERT_EQ(fresh.status, 0) << fresh.output;
    std::string host;
    std::istringstream cache(read_file((build / "CMakeCache.txt").string()));
    for (std::string line; std::getline(cache, line);)
        if (line.rfind("VELTRO_REPORT_HOST:", 0) == 0) host = line.substr(line.find('=') + 1);
    const std::string page = one_line(read_file((source_dir / "docs/manifest.md").string()));
    EXPECT_NE(page.find("https://" + host + "/v4/receive/json/25"), std::string::npos) << host;
    EXPECT_NE(page.find("`VELTRO_REPORT_HOST` defaults to `" + host + "`"), std::string::npos) << host;
    const std::string lead = "prints a CMake warning when it is configured. It begins `";
    const auto at = page.find(lead);
    ASSERT_NE(at, std::string::npos) << "manifest.md quotes the warning";
    const auto from = at + lead.size();
    const std::string quoted = page.substr(from, page.find('`', from) - from);
    const std::string said = one_line(fresh.output);
    EXPECT_NE(said.find("CMake Warning at CMakeLists.txt"), std::string::npos) << fresh.output;
    EXPECT_NE(said.find(quoted), std::string::npos) << quoted << "\n" << fresh.output;

    // The stub is compiled with the host the setting names, and a real host
    // configures without the warning.
    const result set = configure("-DVELTRO_REPORT_HOST=collector.example.com");
    ASSERT_EQ(set.status, 0) << set.output;
    EXPECT_EQ(set.output.find("VELTRO_REPORT_HOST is"), std::string::npos) << set.output;
    EXPECT_NE(read_file((build / "compile_commands.json").string())
                  .find(R"(QZR_REPORT_HOST=\\\"collector.example.com\\\")"),
              std::string::npos);
}

// What the guide shows without running it still reads: XML examples are
// well-formed, TOML and INI examples parse.
TEST_F(Guide, ShownDocumentsParse) {
    int checked = 0;
    for (const auto& b : guide_blocks()) {
        const std::string info = trimmed(b.info);
        if (info == "xml") {
            const std::string text = b.content.rfind("<?xml", 0) == 0 ? b.content : "<x>" + b.content + "</x>";
            pugi::xml_document doc;
            const auto parsed = doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
            EXPECT_TRUE(parsed) << where(b) << ": " << parsed.description() << "\n" << b.content;
        } else if (info == "toml" || info == "ini") {
            write_file((dir / "shown").string(), b.content);
            const std::string check = info == "toml"
                                          ? "import sys, tomllib; tomllib.load(open(sys.argv[1], 'rb'))"
                                          : "import sys, configparser; configparser.ConfigParser().read(sys.argv[1])";
            const result r = sh("python3 -c \"" + check + "\" '" + (dir / "shown").string() + "' 2>&1");
            EXPECT_EQ(r.status, 0) << where(b) << ":\n" << b.content << r.output;
        } else {
            continue;
        }
        ++checked;
    }
    EXPECT_GE(checked, 5);
}
