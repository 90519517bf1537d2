// The public keys the stub trusts and the numbered key sets that name them.
#pragma once

#include <span>
#include <vector>

#include "framework/dsa.hpp"

namespace qzr::sfx::keys {

// K1 ... K10 (number 1 to 10).
const root::dsa_public_key& key(int number);

inline constexpr int default_key_set = 7;  // shipped files: K4, then K5
inline constexpr int any_key_set = 8;      // every key (the microstub)

// The keys of a set in the order they are tried; raises the general error 87
// "Unknown DSA key!" for set 6 and sets above 8.
std::vector<int> key_set(int set);

}  // namespace qzr::sfx::keys
