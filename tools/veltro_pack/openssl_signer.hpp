// DSA signing with a PKCS#8 PEM private key through OpenSSL (host tools only).
#pragma once

#include <string>

#include "signature_writer.hpp"

namespace qzr::pack {

// Raises std::runtime_error when the key cannot be read or is not DSA.
digest_signer openssl_signer(const std::string& pem_path);

}  // namespace qzr::pack
