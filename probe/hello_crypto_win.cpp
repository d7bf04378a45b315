// The hello builder's primitives on BCrypt (Windows Vista and later; Wine has
// all three).
#include <windows.h>

#include <bcrypt.h>
#include <cstring>

#include "probe/hello_crypto.h"

namespace tv {
namespace {

struct AlgHandle {
    BCRYPT_ALG_HANDLE h = nullptr;
    explicit AlgHandle(LPCWSTR id) {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h, id, nullptr, 0)))
            h = nullptr;
    }
    ~AlgHandle() {
        if (h)
            BCryptCloseAlgorithmProvider(h, 0);
    }
    AlgHandle(const AlgHandle&) = delete;
    AlgHandle& operator=(const AlgHandle&) = delete;
};

struct KeyHandle {
    BCRYPT_KEY_HANDLE h = nullptr;
    ~KeyHandle() {
        if (h)
            BCryptDestroyKey(h);
    }
};

struct HashHandle {
    BCRYPT_HASH_HANDLE h = nullptr;
    ~HashHandle() {
        if (h)
            BCryptDestroyHash(h);
    }
};

} // namespace

bool helloRandomBytes(uint8_t* out, size_t len) {
    while (len > 0) {
        const ULONG chunk = len > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<ULONG>(len);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return false;
        out += chunk;
        len -= chunk;
    }
    return true;
}

bool helloP256PublicKey(uint8_t (&out)[kP256PointSize]) {
    AlgHandle alg(BCRYPT_ECDH_P256_ALGORITHM);
    KeyHandle key;
    if (!alg.h || !BCRYPT_SUCCESS(BCryptGenerateKeyPair(alg.h, &key.h, 256, 0)) ||
        !BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key.h, 0)))
        return false;
    // BCRYPT_ECCKEY_BLOB header, then X and Y of 32 bytes each.
    UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(
            BCryptExportKey(key.h, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob, &size, 0)) ||
        size != sizeof blob)
        return false;
    BCRYPT_ECCKEY_BLOB header;
    std::memcpy(&header, blob, sizeof header);
    if (header.cbKey != 32)
        return false;
    out[0] = 0x04;
    std::memcpy(out + 1, blob + sizeof header, 64);
    return true;
}

bool helloSha256(std::string_view data, uint8_t (&out)[32]) {
    AlgHandle alg(BCRYPT_SHA256_ALGORITHM);
    HashHandle hash;
    if (!alg.h || !BCRYPT_SUCCESS(BCryptCreateHash(alg.h, &hash.h, nullptr, 0, nullptr, 0, 0)))
        return false;
    // BCryptHashData takes a ULONG length and a non-const pointer it does not write.
    auto* p = reinterpret_cast<PUCHAR>(const_cast<char*>(data.data()));
    size_t left = data.size();
    while (left > 0) {
        const ULONG chunk = left > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<ULONG>(left);
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.h, p, chunk, 0)))
            return false;
        p += chunk;
        left -= chunk;
    }
    return BCRYPT_SUCCESS(BCryptFinishHash(hash.h, out, 32, 0));
}

} // namespace tv
