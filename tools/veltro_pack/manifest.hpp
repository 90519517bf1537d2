// The release manifest: one TOML file that says what an installer holds —
// the product, its titles, where its repository and reports live, the run
// parameters, the setup files with their conditions, the setup commands, and
// how the result is signed. Reading it checks everything that can be checked
// without building: every mistake names the manifest, the line and the key.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qzr::pack {

// "FILE:LINE: KEY: what is wrong".
struct manifest_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where a setup file travels: in the installer's payload (compressed or
// stored), or only in the repository.
enum class carriage { lzma, stored, none };

// Rules of the product description, as XML fragments: the children of a
// `conditions` and a `conditions2` element. Empty: no such element.
struct rules {
    std::string conditions;
    std::string conditions2;
};

struct setup_file {
    std::string name;              // file name in the product's folder
    std::filesystem::path source;  // absolute
    carriage payload = carriage::lzma;
    rules when;
    std::string key;  // "setup-files[1].file[2]", for messages
};

struct setup_group {
    rules when;
    std::vector<setup_file> files;
};

struct setup_command {
    std::string executable = "veltro.exe";
    std::string arguments;
    std::optional<std::string> sfx_executable;  // overrides for a start from the stub
    std::optional<std::string> sfx_arguments;
    rules when;
};

struct manifest {
    std::filesystem::path file;  // the manifest itself

    std::string product;
    std::string channel;
    std::string version;
    std::vector<std::pair<std::string, std::string>> titles;  // culture name, title; by culture name

    std::string base_url;
    std::string report_url;
    bool silent = false;
    bool nosplash = false;
    bool clear = false;

    std::vector<setup_group> groups;
    std::vector<setup_command> commands;

    // [installer]; paths absolute, resolved against the manifest's folder.
    std::filesystem::path stub;
    std::filesystem::path output;  // folder of the installer and the signed documents
    std::string installer_name;    // default "<product>_setup.exe"
    std::filesystem::path key;     // empty: the tools' default key
    int signature_version = 3;
    std::optional<std::uint64_t> timestamp;

    // [repository]
    std::filesystem::path module;   // the compatibility module, or empty
    std::filesystem::path publish;  // repository tree to publish into, or empty
    bool pinned = false;            // also publish the document for /noupdate, pinned to the version
};

// Reads and checks a manifest. Raises manifest_error.
manifest read_manifest(const std::filesystem::path& file);

}  // namespace qzr::pack
