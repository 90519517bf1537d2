#include "framework/errors.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"

namespace qzr::sfx::keys {

std::vector<int> key_set(int set) {
    switch (set) {
        case 0: return {1, 2, 3, 4, 5};
        case 1: return {6, 4, 5};
        case 2: return {7, 4, 5};
        case 3: return {8, 4, 5};
        case 4: return {9, 4, 5};
        case 5: return {10, 4, 5};
        case 7: return {4, 5};
        case 8: return {1, 2, 3, 6, 7, 8, 4, 5, 10, 9};
        default: break;
    }
    throw qzr::exceptions::error(qzr::exceptions::invalid_parameter_code, "Unknown DSA key!");
}

}  // namespace qzr::sfx::keys
