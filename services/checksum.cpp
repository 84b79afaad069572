// checksum over runtime/checksums.h and libcrypto's EVP digests; HMAC is
// built here over the plain digests.
#include "services/checksum.h"

#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "platform/files.h"
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

// One digest computed in pieces; the context is freed on every path.
class DigestStream {
 public:
  explicit DigestStream(DigestMethod method) : method_(method), ctx_(EVP_MD_CTX_new()) {
    const EVP_MD* md = fetched(method);
    if (!ctx_ || EVP_DigestInit_ex2(ctx_.get(), md, nullptr) != 1) raise_error(kErrInternalFeatureNa);
  }
  void add(const uint8_t* data, size_t n) {
    if (n > 0 && EVP_DigestUpdate(ctx_.get(), data, n) != 1) raise_error(kErrInternalFeatureNa);
  }
  // The digest into [out] (digest_size bytes).
  void finish(uint8_t* out) {
    unsigned int written = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), out, &written) != 1 || written != digest_size(method_))
      raise_error(kErrInternalFeatureNa);
  }

 private:
  struct ContextFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
  };
  DigestMethod method_;
  std::unique_ptr<EVP_MD_CTX, ContextFree> ctx_;
};

// HMAC in pieces: the inner digest runs over the data as it comes.
class HmacStream {
 public:
  HmacStream(DigestMethod method, std::string_view key) : method_(method), inner_(method) {
    const size_t block = kAlgorithms[size_t(method)].block;
    std::array<uint8_t, kMaxBlock> inner_pad{};
    const auto* key_bytes = reinterpret_cast<const uint8_t*>(key.data());
    if (key.size() > block)
      digest_bytes(method, key_bytes, key.size(), inner_pad.data());
    else if (!key.empty())
      std::memcpy(inner_pad.data(), key_bytes, key.size());
    for (size_t i = 0; i < block; i++) {
      outer_pad_[i] = inner_pad[i] ^ 0x5C;
      inner_pad[i] ^= 0x36;
    }
    inner_.add(inner_pad.data(), block);
  }
  void add(const uint8_t* data, size_t n) { inner_.add(data, n); }
  void finish(uint8_t* out) {
    std::array<uint8_t, kMaxDigest> inner{};
    inner_.finish(inner.data());
    DigestStream outer(method_);
    outer.add(outer_pad_.data(), kAlgorithms[size_t(method_)].block);
    outer.add(inner.data(), digest_size(method_));
    outer.finish(out);
  }

 private:
  DigestMethod method_;
  DigestStream inner_;
  std::array<uint8_t, kMaxBlock> outer_pad_{};
};

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

// What a method sums, fed in pieces.
class Summer {
 public:
  Summer(const MethodWord& m, const std::string* key) : m_(m) {
    if (m.method != Method::kDigest) return;
    if (key)
      hmac_.emplace(m.digest, *key);
    else
      digest_.emplace(m.digest);
  }
  // Every piece but the last is of even length (the internet checksum's words).
  void add(const uint8_t* data, size_t n) {
    switch (m_.method) {
      case Method::kTcp: tcp_ = internet_sum_update(tcp_, data, n); break;
      case Method::kCrc32: crc_ = crc32_update(crc_, data, n); break;
      case Method::kAdler32: adler_ = adler32_update(adler_, data, n); break;
      default:
        if (hmac_)
          hmac_->add(data, n);
        else
          digest_->add(data, n);
    }
  }
  // MAY ALLOCATE. The integer! or the binary! digest.
  Cell finish() {
    switch (m_.method) {
      case Method::kTcp: return integer_cell(int32_t(internet_checksum_end(tcp_)));
      case Method::kCrc32: return integer_cell(int32_t(crc_));
      case Method::kAdler32: return integer_cell(int32_t(adler_));
      default: break;
    }
    uint8_t out[kMaxDigest];
    if (hmac_)
      hmac_->finish(out);
    else
      digest_->finish(out);
    StackSave save;
    return *binary_load_push(out, uint32_t(digest_size(m_.digest)));
  }

 private:
  const MethodWord& m_;
  uint64_t tcp_ = 0;
  uint32_t crc_ = 0;
  uint32_t adler_ = 1;
  std::optional<DigestStream> digest_;
  std::optional<HmacStream> hmac_;
};

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) os_close(fd);
  }
};

// Bytes read at a time from a file (even: only the last piece may be odd).
constexpr size_t kFilePiece = size_t(1) << 20;

// Feeds the bytes of [file] to [summer]: a regular file in pieces (any
// size), anything else (a pipe, /proc) read whole by file_read_value.
void sum_file(const Cell* file, Summer* summer) {
  if (file_dir_path_q(file)) raise_error(kErrAccessCannotOpen, file);
  int64_t size = -1;
  Descriptor in{os_open_for_read(file_to_os_path(file), &size)};
  if (in.fd < 0) raise_error(kErrAccessCannotOpen, file);
  if (size <= 0) {
    StackSave save;
    Cell* bytes = file_read_value(file, nullptr, nullptr, true, false);
    int32_t n = binary_length(bytes);
    summer->add(binary_head_ptr(bytes), size_t(n));
    return;
  }
  std::vector<uint8_t> piece(kFilePiece);
  for (int64_t offset = 0;; offset += int64_t(piece.size())) {
    size_t got = 0;
    if (!os_read_at(in.fd, offset, piece.data(), piece.size(), &got)) raise_error(kErrAccessCannotOpen, file);
    summer->add(piece.data(), got);
    if (got < piece.size()) return;
  }
}

}  // namespace

size_t digest_size(DigestMethod method) { return kAlgorithms[size_t(method)].size; }

void digest_bytes(DigestMethod method, const uint8_t* data, size_t n, uint8_t* out) {
  DigestStream digest(method);
  digest.add(data, n);
  digest.finish(out);
}

void hmac_bytes(DigestMethod method, const uint8_t* data, size_t n, std::string_view key, uint8_t* out) {
  HmacStream hmac(method, key);
  hmac.add(data, n);
  hmac.finish(out);
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

  Summer summer(m, keyed ? &key : nullptr);
  if (a.data->is(kTypeFile)) {
    sum_file(a.data, &summer);
  } else if (a.data->is(kTypeBinary)) {
    int32_t n = binary_length(a.data);
    summer.add(binary_head_ptr(a.data), size_t(n));  // nothing allocates while the bytes are read
  } else {
    std::string text = string_to_utf8(a.data);
    summer.add(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  return native_result(summer.finish());
}

void checksum_init() { KIV_INSTALL(Checksum); }

}  // namespace kiv
