// The hello builder's primitives on OpenSSL 3. Every failure path empties the
// thread's error queue: the TLS backend reads that queue for its status codes.
#include <algorithm>
#include <climits>
#include <memory>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "probe/hello_crypto.h"

namespace tv {
namespace {

bool cleared() {
    ERR_clear_error();
    return false;
}

} // namespace

bool helloRandomBytes(uint8_t* out, size_t len) {
    while (len > 0) {
        const int chunk = len > INT_MAX ? INT_MAX : static_cast<int>(len);
        if (RAND_bytes(out, chunk) != 1)
            return cleared();
        out += chunk;
        len -= static_cast<size_t>(chunk);
    }
    return true;
}

bool helloP256PublicKey(uint8_t (&out)[kP256PointSize]) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!key)
        return cleared();
    unsigned char* encoded = nullptr;
    const size_t len = EVP_PKEY_get1_encoded_public_key(key.get(), &encoded);
    const bool ok = encoded && len == kP256PointSize && encoded[0] == 0x04;
    if (ok)
        std::copy(encoded, encoded + len, out);
    OPENSSL_free(encoded);
    return ok || cleared();
}

bool helloSha256(std::string_view data, uint8_t (&out)[32]) {
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), out, &len, EVP_sha256(), nullptr) != 1 || len != 32)
        return cleared();
    return true;
}

} // namespace tv
