// The development keys: those in keys/dev of the tree the tools were built
// from. Their private halves are in the source tree, so anyone can sign with
// them, and nothing they sign is fit to ship.
#pragma once

#include <string>

namespace qzr::pack {

// "keys/dev/k4.pem" when the private key in the PEM file pem_path is that
// development key (its public value is the same, wherever the file lies and
// whatever it is called), else "". Raises std::runtime_error when the file
// cannot be read as a private key.
std::string development_key_of(const std::string& pem_path);

}  // namespace qzr::pack
