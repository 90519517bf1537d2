// The payload, its unpacker, file mappings, file digests and signature
// checks against real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <random>

#include "../support/held_file.hpp"
#include "../support/log_capture.hpp"
#include "../support/pe_image.hpp"
#include "framework/hex.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/path.hpp"
#include "framework/sha256.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "payload_writer.hpp"
#include "veltro_sfx_lib/description/veltro_info.hpp"
#include "veltro_sfx_lib/payload/payload.hpp"
#include "veltro_sfx_lib/signature/verify_signature.hpp"
#include "win/file_mapping.hpp"
#include "win/file_source.hpp"
#include "win/file_system.hpp"
#include "win/hash_file.hpp"
#include "win/lzma_packer.hpp"

using namespace qzr;
using namespace qzr::sfx;

namespace {

std::vector<std::uint8_t> random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng() % 16 ? 'a' + rng() % 3 : rng());
    return v;
}

std::string read_file(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::wstring& path, const std::vector<std::uint8_t>& data) {
    std::ofstream(path.c_str(), std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

std::wstring own_folder() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return path::parent(std::wstring(buffer, n));
}

class scratch : public ::testing::Test {
protected:
    std::wstring dir;
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir = path::join(tmp, L"payload-" + uuid::to_wstring(uuid::random_uuid()));
        ASSERT_TRUE(win::create_directories(dir));
    }
    void TearDown() override {
        WIN32_FIND_DATAW d;
        HANDLE h = FindFirstFileW(path::join(dir, L"*").c_str(), &d);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW(path::join(dir, d.cFileName).c_str());
            } while (FindNextFileW(h, &d));
            FindClose(h);
        }
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring file(const wchar_t* name) const { return path::join(dir, name); }
};

struct entry_spec {
    std::string alias;
    std::vector<std::uint8_t> content;
    std::uint32_t flags = 0;
    bool corrupt_digest = false;
    bool cut_lzma = false;
};

// A PE32+ image (the format of this build) carrying the entries.
std::vector<std::uint8_t> self_extractor(const std::vector<entry_spec>& specs) {
    test::pe_layout layout;
    layout.pe32plus = true;
    auto image = test::make_pe(layout);
    for (const auto& s : specs) {
        pack::entry_header h;
        h.alias = s.alias;
        h.flags = s.flags;
        h.timestamp = 1234;
        const auto d = root::sha256::of(s.content);
        std::copy(d.begin(), d.end(), h.sha256);
        if (s.corrupt_digest) h.sha256[0] ^= 1;
        std::vector<std::uint8_t> data = s.flags == 1 ? packers::lzma_encode(s.content, 6) : s.content;
        if (s.cut_lzma) data.resize(data.size() / 2);
        pack::append_entry(image, h, data);
    }
    pack::append_end_entry(image);
    return image;
}

}  // namespace

using PayloadWin = scratch;

TEST_F(PayloadWin, TablesHandOverAndUnpacking) {
    test::log_capture log;
    const auto big = random_bytes(3 << 20, 1);
    write_file(file(L"sfx.exe"), self_extractor({
                                     {"setup.bin", big, 1},
                                     {"", {'a', 'n', 'o', 'n'}, 0},
                                     {"setup.bin", {'n', 'e', 'w'}, 0},
                                     {"odd", {'x'}, 2},
                                     {"bad-digest", {'y'}, 0, true},
                                     {"cut", random_bytes(100000, 2), 1, false, true},
                                 }));
    veltro_info info;
    payload p(file(L"sfx.exe"));
    p.load(info);

    const std::string doc = info.to_string();
    EXPECT_NE(doc.find("<file-list>"), std::string::npos);
    EXPECT_EQ(doc.find("<file>"), doc.find("<file-list>") + 14);
    std::size_t files = 0;
    for (std::size_t at = doc.find("<file>"); at != std::string::npos; at = doc.find("<file>", at + 1)) ++files;
    EXPECT_EQ(files, 6u) << "duplicates are listed too";
    EXPECT_NE(doc.find("<file-mapping-sfx>"), std::string::npos);
    EXPECT_TRUE(log.has(log::level_info, "file alias = 'setup.bin' packed in payload twice, overriding"));

    // The later duplicate wins; lookups are exact.
    EXPECT_EQ(p.find_by_alias(L"setup.bin")->unpack_data(), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
    EXPECT_EQ(p.find_by_alias(L"SETUP.BIN"), nullptr);
    const std::wstring anon_sha = utf::from_utf8(hex::encode(root::sha256::of(std::vector<std::uint8_t>{'a', 'n', 'o', 'n'})));
    ASSERT_NE(p.find_by_sha(anon_sha), nullptr);
    EXPECT_EQ(p.find_by_sha(utf::ascii_lower(anon_sha))->unpack_data().size(), 4u);
    std::wstring upper = anon_sha;
    for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    EXPECT_EQ(p.find_by_sha(upper), nullptr);
    EXPECT_EQ(p.find_by_sha(utf::from_utf8(hex::encode(root::sha256::of(std::vector<std::uint8_t>{'n', 'e', 'w'})))),
              nullptr) << "named entries are not found by digest";
    const auto names = p.aliases();
    EXPECT_EQ(names.size(), 4u);

    // unpack_to_file replaces an existing file.
    write_file(file(L"out.bin"), {'o', 'l', 'd', '!', '!', '!', '!'});
    p.find_by_alias(L"setup.bin")->unpack_to_file(file(L"out.bin"));
    EXPECT_EQ(read_file(file(L"out.bin")), "new");
}

TEST_F(PayloadWin, LargeCompressedEntryToFile) {
    const auto big = random_bytes((3 << 20) + 11, 3);
    write_file(file(L"sfx.exe"), self_extractor({{"big", big, 1}}));
    veltro_info info;
    payload p(file(L"sfx.exe"));
    p.load(info);
    p.find_by_alias(L"big")->unpack_to_file(file(L"big.out"));
    const std::string out = read_file(file(L"big.out"));
    ASSERT_EQ(out.size(), big.size());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), big.begin(),
                           [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
}

// A placed file comes back held: from its check on nobody can write,
// replace, rename or delete it, and anybody can still read it; once the hold
// goes, it is an ordinary file again.
TEST_F(PayloadWin, APlacedFileIsHeldAsChecked) {
    const auto big = random_bytes(300000, 5);
    const std::vector<std::uint8_t> small{'s', 'e', 't', 'u', 'p'};
    write_file(file(L"sfx.exe"), self_extractor({{"stored.bin", small, 0}, {"packed.bin", big, 1}}));
    veltro_info info;
    payload p(file(L"sfx.exe"));
    p.load(info);
    for (const wchar_t* alias : {L"stored.bin", L"packed.bin"}) {
        SCOPED_TRACE(utf::to_utf8(alias));
        const std::wstring target = file(alias);
        file_hold hold = p.find_by_alias(alias)->unpack_to_file(target);
        ASSERT_TRUE(hold);
        EXPECT_EQ(test::changes_allowed(target), "");
        EXPECT_TRUE(test::readable_by_others(target));
        EXPECT_EQ(read_file(target).size(), std::wstring(alias) == L"stored.bin" ? small.size() : big.size());
        hold.reset();
        EXPECT_EQ(test::changes_allowed(target), "write replace rename delete");
    }

    // Somebody writing the file when it is placed: nothing is placed.
    const std::wstring busy = file(L"busy.bin");
    write_file(busy, {'x'});
    const HANDLE writer = CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_THROW(p.find_by_alias(L"stored.bin")->unpack_to_file(busy), qzr::exceptions::error);
    CloseHandle(writer);
}

TEST_F(PayloadWin, FailedUnpackingLeavesNoFile) {
    test::log_capture log;
    write_file(file(L"sfx.exe"), self_extractor({
                                     {"odd", {'x'}, 2},
                                     {"bad-digest", {'y', 'y'}, 0, true},
                                     {"cut", random_bytes(100000, 2), 1, false, true},
                                 }));
    veltro_info info;
    payload p(file(L"sfx.exe"));
    p.load(info);
    const auto expect_fail = [&](const wchar_t* alias, std::int32_t code, const std::string& text) {
        const std::wstring target = file((std::wstring(alias) + L".out").c_str());
        try {
            p.find_by_alias(alias)->unpack_to_file(target);
            ADD_FAILURE() << "unpacked " << utf::to_utf8(alias);
        } catch (const qzr::exceptions::error& e) {
            EXPECT_EQ(e.code(), code);
            EXPECT_EQ(std::string(e.what()), text);
        }
        EXPECT_FALSE(win::exists(target)) << utf::to_utf8(alias);
        EXPECT_THROW(p.find_by_alias(alias)->unpack_data(), qzr::exceptions::error);
    };
    expect_fail(L"odd", 13, "Unsupported data reader (2)");
    auto digest = root::sha256::of(std::vector<std::uint8_t>{'y', 'y'});
    digest[0] ^= 1;
    const std::string recorded = hex::encode(digest);
    expect_fail(L"bad-digest", 13, "Fail unpack data, wrong checksum (alias:bad-digest, hash:" + recorded + ")!");
    EXPECT_TRUE(log.has(log::level_error, "Fail unpack data, wrong checksum (alias:bad-digest, hash:" + recorded + ")!"));
    expect_fail(L"cut", 1, "The LZMA stream has ended prematurely!");
}

// The executable is held against writers from the moment it is opened: the
// bytes its signature is checked over are the bytes the payload is read
// from, whatever happens to the path meanwhile.
TEST_F(PayloadWin, TheOpenedImageIsWhatIsVerifiedAndRead) {
    const auto original = self_extractor({{"setup.bin", {'g', 'o', 'o', 'd'}, 0}});
    const auto forged = self_extractor({{"setup.bin", {'e', 'v', 'i', 'l'}, 0}});
    write_file(file(L"sfx.exe"), original);
    write_file(file(L"forged.exe"), forged);
    payload p(file(L"sfx.exe"));

    const HANDLE writer = CreateFileW(file(L"sfx.exe").c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                      nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "a writer got in while the run holds its executable";
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    // Replacing the path may or may not be refused; either way the run keeps
    // reading the file it opened.
    MoveFileExW(file(L"forged.exe").c_str(), file(L"sfx.exe").c_str(), MOVEFILE_REPLACE_EXISTING);

    byte_source& image = p.image();
    ASSERT_EQ(image.size(), original.size());
    std::vector<std::uint8_t> read;
    while (read.size() < image.size()) {
        const byte_view part = image.window(read.size(), original.size() - read.size());
        read.insert(read.end(), part.data(), part.data() + part.size());
    }
    EXPECT_EQ(read, original);
    veltro_info info;
    p.load(info);
    EXPECT_EQ(p.find_by_alias(L"setup.bin")->unpack_data(), (std::vector<std::uint8_t>{'g', 'o', 'o', 'd'}));
    EXPECT_THROW(payload(file(L"sfx.exe")).find_by_alias(L"setup.bin"), qzr::exceptions::error)
        << "nothing is read before load";
}

// A stored entry's content is written in one go; a file that refuses it
// gives "set_file_content" with the system's code.
TEST_F(PayloadWin, StoredContentThatCannotBeWritten) {
    write_file(file(L"target"), {'o', 'l', 'd'});
    win::file_handle read_only(
        CreateFileW(file(L"target").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(read_only);
    const std::uint8_t data[] = {'n', 'e', 'w'};
    try {
        set_file_content(read_only.get(), byte_view(data, sizeof data));
        ADD_FAILURE() << "wrote through a read-only handle";
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), ERROR_ACCESS_DENIED);
        EXPECT_STREQ(e.what(), "set_file_content");
    }
    read_only.reset();
    EXPECT_EQ(read_file(file(L"target")), "old");
}

TEST_F(PayloadWin, MissingExecutable) {
    try {
        payload p(file(L"missing.exe"));
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), ERROR_FILE_NOT_FOUND);
        EXPECT_STREQ(e.what(), "Failed to open sfx file.");
    }
}

TEST_F(PayloadWin, FileMappingViewsAndDigests) {
    write_file(file(L"empty"), {});
    win::file_handle empty(CreateFileW(file(L"empty").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    files::file_mapping m;
    m.open(empty.get(), nullptr, true);
    EXPECT_TRUE(m.initialized());
    EXPECT_EQ(m.size(), 0u);
    EXPECT_EQ(m.view().size(), 0u);
    EXPECT_EQ(hex::encode(root::hash_file(empty.get()).bytes()), hex::encode(root::sha256::of(std::vector<std::uint8_t>{})));

    // More than one 32 MiB window.
    const auto data = random_bytes((33 << 20) + 5, 4);
    write_file(file(L"big"), data);
    win::file_handle big(CreateFileW(file(L"big").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(root::hash_file(big.get()), root::hash_buffer(data));

    files::file_mapping part;
    part.open(big.get(), nullptr, false);
    EXPECT_THROW(part.view(), qzr::exceptions::error);
    part.map_view(data.size() - 10, 100);
    EXPECT_EQ(part.view_size(), 10u);
    try {
        part.map_view(data.size() + 1, 0);
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), 5);
        EXPECT_STREQ(e.what(), "Unable to map a view outside of the file mapping!");
    }
    files::file_mapping none;
    EXPECT_THROW(none.size(), qzr::exceptions::error);
    EXPECT_THROW(none.map_view(0, 0), qzr::exceptions::error);
}

TEST_F(PayloadWin, LzmaPackerBetweenFiles) {
    const auto data = random_bytes(files::file_source::buffer_size * 5 / 2, 5);  // several reads of input
    write_file(file(L"in.lzma"), packers::lzma_encode(data, 0));
    const packers::lzma_packer packer;
    packer.unpack_file(file(L"in.lzma"), file(L"out"));
    EXPECT_EQ(read_file(file(L"out")), std::string(data.begin(), data.end()));

    auto cut = packers::lzma_encode(data, 0);
    cut.resize(cut.size() - 100);
    write_file(file(L"cut.lzma"), cut);
    EXPECT_THROW(packer.unpack_file(file(L"cut.lzma"), file(L"cut.out")), qzr::exceptions::error);
    EXPECT_FALSE(win::exists(file(L"cut.out")));
    try {
        packer.unpack_file(file(L"absent.lzma"), file(L"absent.out"));
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to open file '" + utf::to_utf8(file(L"absent.lzma")) + "'!");
    }
    EXPECT_THROW(packer.unpack_buffer(nullptr, 5), qzr::exceptions::error);
}

// Windows over a file larger than the buffer, wherever they fall, hold the
// file's bytes; reads past the end and a file cut short under the reader
// are errors, never stale or foreign bytes.
TEST_F(PayloadWin, FileSourceReadsWindowsOfAnyFile) {
    const auto data = random_bytes(2 * files::file_source::buffer_size + 4321, 8);
    write_file(file(L"big"), data);
    win::file_handle h(CreateFileW(file(L"big").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h);
    files::file_source source(h.get());
    ASSERT_EQ(source.size(), data.size());
    const auto same = [&](std::uint64_t offset, std::size_t want, std::size_t expected) {
        const byte_view w = source.window(offset, want);
        ASSERT_EQ(w.size(), expected) << offset << "+" << want;
        EXPECT_TRUE(std::equal(w.data(), w.data() + w.size(), data.begin() + static_cast<long>(offset)))
            << offset << "+" << want;
    };
    same(0, SIZE_MAX, files::file_source::buffer_size);
    same(10, 4, 4);  // inside what is buffered
    same(files::file_source::buffer_size - 2, 8, 8);  // straddles the buffer's end
    same(data.size() - 72, 72, 72);
    same(data.size() - 100, 64, 64);  // behind the last window
    same(data.size() - 5, SIZE_MAX, 5);
    same(data.size(), 10, 0);
    EXPECT_EQ(source.u32(3), static_cast<std::uint32_t>(data[3] | data[4] << 8 | data[5] << 16 | data[6] << 24));
    EXPECT_FALSE(source.equals(data.size() - 2, "abc"));
    try {
        source.window(data.size() + 1, 1);
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), 5);
    }

    win::file_handle cutter(CreateFileW(file(L"big").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    ASSERT_TRUE(cutter);
    LARGE_INTEGER half{};
    half.QuadPart = static_cast<LONGLONG>(data.size() / 2);
    ASSERT_TRUE(SetFilePointerEx(cutter.get(), half, nullptr, FILE_BEGIN) && SetEndOfFile(cutter.get()));
    try {
        source.window(data.size() - files::file_source::buffer_size, SIZE_MAX);
        FAIL() << "a shrunken file read as whole";
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), ERROR_HANDLE_EOF);
    }
}

TEST(VerifySignatureWin, PackedFilesByPathHandleAndBlock) {
    const std::wstring e2e = path::join(own_folder(), L"e2e");
    if (!win::exists(path::join(e2e, L"signed.exe"))) GTEST_SKIP() << "the e2e self-extractors are not packed";
    verify_signature v;
    EXPECT_TRUE(v.dsa_signed(path::join(e2e, L"signed.exe")));
    EXPECT_TRUE(v.dsa_signed(path::join(e2e, L"signed_v2.exe")));
    EXPECT_FALSE(v.dsa_signed(path::join(e2e, L"tampered.exe")));
    EXPECT_FALSE(v.dsa_signed(path::join(e2e, L"bare.exe")));
    EXPECT_FALSE(v.dsa_signed(path::join(e2e, L"wrong_key.exe")));
    EXPECT_TRUE(v.dsa_signed_any(path::join(e2e, L"wrong_key.exe")));

    win::file_handle h(CreateFileW(path::join(e2e, L"signed.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(v.dsa_signed_handle(h.get()));
    const std::string bytes = read_file(path::join(e2e, L"signed.exe"));
    EXPECT_TRUE(v.dsa_signed_block(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    std::string changed = bytes;
    changed[bytes.size() / 2] ^= 0x20;
    EXPECT_FALSE(v.dsa_signed_block(reinterpret_cast<const std::uint8_t*>(changed.data()), changed.size()));

    test::log_capture log;
    const std::wstring missing = path::join(e2e, L"missing.exe");
    try {
        v.dsa_signed(missing);
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), ERROR_FILE_NOT_FOUND);
        EXPECT_STREQ(e.what(), "Open file for DSA check fail!");
    }
    EXPECT_TRUE(log.has(log::level_error, "Open file '" + utf::to_utf8(missing) + "' for DSA check fail  2!"));
}

TEST_F(PayloadWin, ZeroLengthFileIsNotSigned) {
    write_file(file(L"zero"), {});
    verify_signature v;
    EXPECT_FALSE(v.dsa_signed(file(L"zero")));
}
