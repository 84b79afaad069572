// The checksum native and the digests behind it, and the error of a missing
// secure random source.
//
// checksum takes a string! (its UTF-8 bytes from its index), a binary! (from
// its index) or a file! (all its bytes: a regular file read a piece at a
// time, so it may be of any size, anything else read whole; one that cannot
// be read, and a directory, raise access cannot-open)
// and a method word, letter case ignored: tcp, crc32 and adler32 give an
// integer! (the 32-bit result as a signed integer, so a CRC can be
// negative); md5, sha1, sha256, sha384 and sha512 a binary! digest, through
// libcrypto (each algorithm fetched at its first use; a failing call raises
// internal feature-na). /with a string! (as UTF-8) or binary! key gives the
// HMAC of a digest method. Refused: another word (script invalid-arg), /with
// on tcp, crc32 or adler32 and hash without a table size or with a key
// (script invalid-refine-arg naming checksum and the method), a /with value
// of another type (invalid-arg); hash with a table size is internal not-done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kiv {

enum class DigestMethod : uint8_t { kMd5, kSha1, kSha256, kSha384, kSha512 };

// The digest's length in bytes (16, 20, 32, 48, 64).
size_t digest_size(DigestMethod method);
// The digest of the [n] bytes at [data] into [out] (digest_size bytes).
// Raises internal feature-na when libcrypto fails.
void digest_bytes(DigestMethod method, const uint8_t* data, size_t n, uint8_t* out);
// The HMAC of the [n] bytes at [data] with [key] into [out] (digest_size
// bytes): blocks of 128 bytes for sha384 and sha512, else 64; a longer key
// is hashed first.
void hmac_bytes(DigestMethod method, const uint8_t* data, size_t n, std::string_view key, uint8_t* out);

// Raises access cannot-open with %/dev/urandom: the no_secure_random hook.
[[noreturn]] void raise_no_secure_random();

// Installs checksum in the natives table (a start-up step).
void checksum_init();

}  // namespace kiv
