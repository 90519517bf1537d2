// The decisions of setup preparation that need no machine: progress
// arithmetic, file names, when the splash shows, which products are reported
// and where a setup file comes from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "veltro_sfx_lib/description/sfx_info_parser.hpp"

namespace qzr::sfx {

class command_line;
class value_holder_intf;
class payload_intf;
class unpacker_intf;
class sfx_reporting_intf;

// Progress of one file within the whole: done/length of this file's share,
// on top of what earlier files contributed; never above 100, and a chunk of
// unknown length counts as nothing rather than dividing by zero.
std::uint8_t weighted_progress(double base, double share, std::uint64_t done, std::uint64_t length) noexcept;

// Whether a setup file name stays inside the product folder: relative, no
// drive, no ".." segment, no alternate data stream.
bool is_safe_relative_name(const std::wstring& name) noexcept;

// The splash shows unless the run is silent (a silent value naming splash
// or stub_loading still asks for it) or it was turned off, on the command
// line or by the run parameters.
bool splash_wanted(const command_line& cmd, const value_holder_intf& params);

// Every product of sfx-info, in order, with its channel; the first call
// alone is flagged as the first.
void report_products(sfx_reporting_intf& reporting, const std::vector<info_parser_intf::product>& products);

// The payload entry of a setup file: by its digest, else by its name.
std::shared_ptr<unpacker_intf> find_setup_file(payload_intf& payload, const std::wstring& sha256,
                                               const std::wstring& name);

}  // namespace qzr::sfx
