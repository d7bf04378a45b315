// The three cryptographic primitives the hello builder and the fingerprints
// need from the platform: system random bytes, a real P-256 public key, and
// SHA-256. One file per platform: hello_crypto_openssl.cpp (OpenSSL 3) and
// hello_crypto_win.cpp (BCrypt). None of them throws; a false return means the
// platform could not deliver, and the output is then unspecified.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tv {

// `len` bytes from the system's cryptographic random generator.
bool helloRandomBytes(uint8_t* out, size_t len);

// A fresh P-256 key pair. `out` receives the public key as an uncompressed
// point (0x04 || X || Y); the private key is dropped at once, because a hello
// probe never completes the handshake.
inline constexpr size_t kP256PointSize = 65;
bool helloP256PublicKey(uint8_t (&out)[kP256PointSize]);

// SHA-256 of `data`.
bool helloSha256(std::string_view data, uint8_t (&out)[32]);

} // namespace tv
