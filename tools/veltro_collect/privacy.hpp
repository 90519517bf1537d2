// What the receiver leaves out of a stored event when asked: the command line
// (it may hold paths with user names, and switches a vendor passes), and the
// hwid in the clear (kept instead as a keyed hash, so that one machine's runs
// still group together but the identifier cannot be looked up elsewhere).
#pragma once

#include <string>

#include "event_record.hpp"

namespace qzr::collect {

struct privacy {
    bool drop_cmdline = false;
    std::string hwid_key;  // when not empty, hwid is stored as HMAC-SHA256 under it
};

// HMAC-SHA256 in 64 uppercase hex digits, the shape of the hwid itself.
std::string keyed_hwid(const std::string& key, const std::string& hwid);

void apply(const privacy& p, event_record& r);

}  // namespace qzr::collect
