// checksum over runtime/checksums.h and libcrypto's EVP digests; HMAC is
// built here over the plain digests.
#include "services/checksum.h"

#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "runtime/checksums.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "services/file_access.h"

namespace kiv {

namespace {

constexpr size_t kMaxDigest = 64;
constexpr size_t kMaxBlock = 128;

struct DigestAlgorithm {
  const char* name;  // libcrypto's name
  size_t size;       // digest bytes
  size_t block;      // HMAC block bytes
};

constexpr DigestAlgorithm kAlgorithms[] = {
    {"MD5", 16, 64}, {"SHA1", 20, 64}, {"SHA256", 32, 64}, {"SHA384", 48, 128}, {"SHA512", 64, 128},
};

// Fetched at first use, kept for the run.
EVP_MD* g_fetched[std::size(kAlgorithms)] = {};

const EVP_MD* fetched(DigestMethod method) {
  EVP_MD*& md = g_fetched[size_t(method)];
  if (!md) md = EVP_MD_fetch(nullptr, kAlgorithms[size_t(method)].name, nullptr);
  if (!md) raise_error(kErrInternalFeatureNa);
  return md;
}

struct ContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// A piece of the input: [n] bytes at [data].
struct Bytes {
  const uint8_t* data;
  size_t n;
};

// The digest of the pieces one after the other into [out].
void digest_pieces(DigestMethod method, std::initializer_list<Bytes> pieces, uint8_t* out) {
  const EVP_MD* md = fetched(method);
  std::unique_ptr<EVP_MD_CTX, ContextFree> ctx(EVP_MD_CTX_new());
  bool ok = ctx && EVP_DigestInit_ex2(ctx.get(), md, nullptr) == 1;
  for (const Bytes& piece : pieces)
    if (ok && piece.n > 0) ok = EVP_DigestUpdate(ctx.get(), piece.data, piece.n) == 1;
  unsigned int written = 0;
  ok = ok && EVP_DigestFinal_ex(ctx.get(), out, &written) == 1 && written == digest_size(method);
  if (!ok) raise_error(kErrInternalFeatureNa);
}

enum class Method : uint8_t { kTcp, kCrc32, kAdler32, kDigest, kHash };

struct MethodWord {
  RuntimeSymbol symbol;
  Method method;
  DigestMethod digest;
};

constexpr MethodWord kMethodWords[] = {
    {kSymTcp, Method::kTcp, DigestMethod::kMd5},
    {kSymMd5, Method::kDigest, DigestMethod::kMd5},
    {kSymSha1, Method::kDigest, DigestMethod::kSha1},
    {kSymCrc32, Method::kCrc32, DigestMethod::kMd5},
    {kSymAdler32, Method::kAdler32, DigestMethod::kMd5},
    {kSymSha256, Method::kDigest, DigestMethod::kSha256},
    {kSymSha384, Method::kDigest, DigestMethod::kSha384},
    {kSymSha512, Method::kDigest, DigestMethod::kSha512},
    {kSymHash, Method::kHash, DigestMethod::kMd5},
};

// The method the word [word] names; script invalid-arg with the word for another.
const MethodWord& method_of(const Cell* word) {
  for (const MethodWord& m : kMethodWords)
    if (runtime_symbol_q(word_symbol(word), m.symbol)) return m;
  raise_error(kErrScriptInvalidArg, word);
}

[[noreturn]] void refuse_refine(const Cell* method) {
  Cell name = runtime_value(kWordChecksum);
  raise_error(kErrScriptInvalidRefineArg, &name, method);
}

}  // namespace

size_t digest_size(DigestMethod method) { return kAlgorithms[size_t(method)].size; }

void digest_bytes(DigestMethod method, const uint8_t* data, size_t n, uint8_t* out) {
  digest_pieces(method, {{data, n}}, out);
}

void hmac_bytes(DigestMethod method, const uint8_t* data, size_t n, std::string_view key, uint8_t* out) {
  const size_t block = kAlgorithms[size_t(method)].block;
  const size_t size = digest_size(method);
  std::array<uint8_t, kMaxBlock> inner_pad{};
  std::array<uint8_t, kMaxBlock> outer_pad{};
  const auto* key_bytes = reinterpret_cast<const uint8_t*>(key.data());
  if (key.size() > block)
    digest_bytes(method, key_bytes, key.size(), inner_pad.data());
  else if (!key.empty())
    std::memcpy(inner_pad.data(), key_bytes, key.size());
  for (size_t i = 0; i < block; i++) {
    outer_pad[i] = inner_pad[i] ^ 0x5C;
    inner_pad[i] ^= 0x36;
  }
  std::array<uint8_t, kMaxDigest> inner{};
  digest_pieces(method, {{inner_pad.data(), block}, {data, n}}, inner.data());
  digest_pieces(method, {{outer_pad.data(), block}, {inner.data(), size}}, out);
}

[[noreturn]] void raise_no_secure_random() {
  Cell* path = file_from_os_path("/dev/urandom");
  raise_error(kErrAccessCannotOpen, path);
}

KIV_NATIVE(Checksum) {
  const MethodWord& m = method_of(a.method);
  const Cell* spec = a.with;
  // Everything that can be refused is refused before the data is read.
  if (spec && (m.method == Method::kTcp || m.method == Method::kCrc32 || m.method == Method::kAdler32))
    refuse_refine(a.method);
  bool keyed = spec && (spec->is(kTypeString) || spec->is(kTypeBinary));
  if (spec && !keyed && !spec->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, spec);
  if (m.method == Method::kHash) {
    if (!spec || keyed) refuse_refine(a.method);
    raise_error(kErrInternalNotDone);  // hashing into a table of a size
  }
  if (spec && !keyed) raise_error(kErrInternalNotDone);  // a table size for a digest method
  std::string key;
  if (keyed) {
    if (spec->is(kTypeString)) {
      key = string_to_utf8(spec);
    } else {
      Cell copy = *spec;
      int32_t length = binary_length(&copy);
      key.assign(reinterpret_cast<const char*>(binary_head_ptr(&copy)), size_t(length));
    }
  }

  StackSave save;
  std::string text;
  Cell* bytes = nullptr;
  if (a.data->is(kTypeFile)) {
    if (file_dir_path_q(a.data)) raise_error(kErrAccessCannotOpen, a.data);
    bytes = file_read_value(a.data, nullptr, nullptr, true, false);
  } else if (a.data->is(kTypeBinary)) {
    bytes = a.data;
  } else {
    text = string_to_utf8(a.data);
  }
  const uint8_t* data = reinterpret_cast<const uint8_t*>(text.data());
  size_t n = text.size();
  if (bytes) {
    n = size_t(binary_length(bytes));
    data = binary_head_ptr(bytes);
  }

  // data is short-lived: nothing below allocates until the result is made.
  switch (m.method) {
    case Method::kTcp: return native_result(integer_cell(int32_t(internet_checksum(data, n))));
    case Method::kCrc32: return native_result(integer_cell(int32_t(crc32_of(data, n))));
    case Method::kAdler32: return native_result(integer_cell(int32_t(adler32_of(data, n))));
    default: break;
  }
  uint8_t digest[kMaxDigest];
  if (keyed)
    hmac_bytes(m.digest, data, n, key, digest);
  else
    digest_bytes(m.digest, data, n, digest);
  Cell* result = binary_load_push(digest, uint32_t(digest_size(m.digest)));
  return native_result(*result);
}

void checksum_init() { KIV_INSTALL(Checksum); }

}  // namespace kiv
