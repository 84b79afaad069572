// compress and decompress. Both work in C++ memory: the input bytes are
// copied out of their series first (a string! as UTF-8), the codec runs on
// std::vector buffers, and only the finished result becomes a binary!, so
// nothing the collector moves is held across the codec's work.
//
// Sizes. compress starts from a bound the stored encoding never exceeds and
// retries once with the size the codec reports. decompress starts from
// /size, or else from the size a first call with an empty buffer reports;
// a size no stream of the input's length can produce (DEFLATE's largest
// ratio is 1,032 to 1) or no binary! can hold is refused before anything is
// allocated.
#include "services/compression.h"

#include <cstdint>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "services/deflate.h"
#include "services/zlib_gzip.h"

namespace kiv {

namespace {

using Codec = int (*)(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len);

struct Method {
  RuntimeSymbol symbol;
  Codec compress;
  Codec decompress;
  size_t overhead;  // header and trailer bytes around the raw stream
};

constexpr Method kMethods[] = {
    {kSymZlib, zlib_compress, zlib_decompress, 6},
    {kSymDeflate, deflate_compress, deflate_decompress, 0},
    {kSymGzip, gzip_compress, gzip_decompress, 18},
};

// The method [word] names; script invalid-arg with the word for another.
const Method& method_of(const Cell* word) {
  for (const Method& m : kMethods)
    if (runtime_symbol_q(word_symbol(word), m.symbol)) return m;
  raise_error(kErrScriptInvalidArg, word);
}

// The bytes of [data] from its index: a binary!'s bytes, a string's UTF-8.
std::string input_bytes(const Cell* data) {
  if (!data->is(kTypeBinary)) return string_to_utf8(data);
  Cell copy = *data;
  int32_t n = binary_length(&copy);
  return std::string(reinterpret_cast<const char*>(binary_head_ptr(&copy)), size_t(n));
}

// A failed compression or bad data, named by its method word.
[[noreturn]] void raise_invalid_data(const Cell* method) { raise_error(kErrScriptInvalidData, method); }

// A binary! holding [bytes], as the native's result.
Status binary_result(const std::vector<uint8_t>& bytes, size_t n) {
  return native_result(*binary_load_push(bytes.data(), uint32_t(n)));
}

// The largest output a stream of [in_len] bytes can inflate to, and no more
// than a binary! holds.
size_t inflate_bound(size_t in_len) {
  const uint64_t bound = uint64_t(in_len) * 1032 + 64;
  return size_t(std::min<uint64_t>(bound, kMaxCapacity));
}

}  // namespace

KIV_NATIVE(Compress) {
  const Method& m = method_of(a.method);
  const std::string in = input_bytes(a.data);
  const auto* bytes = reinterpret_cast<const uint8_t*>(in.data());
  // Stored pieces cost 5 bytes per 65,535 and one padding byte; fixed and
  // dynamic blocks are written only when smaller.
  size_t size = in.size() + 5 * (in.size() / 65535 + 1) + 1 + m.overhead;
  std::vector<uint8_t> out(size);
  for (int attempt = 0; attempt < 2; attempt++) {
    if (size > kMaxCapacity) raise_invalid_data(a.method);
    out.resize(size);
    int status = m.compress(out.data(), &size, bytes, in.size());
    if (status == kDeflateDone) return binary_result(out, size);
    if (status != kDeflateTooSmall) break;
  }
  raise_invalid_data(a.method);
}

KIV_NATIVE(Decompress) {
  const Method& m = method_of(a.method);
  std::string in = input_bytes(a.data);
  const auto* bytes = reinterpret_cast<const uint8_t*>(in.data());
  const size_t bound = inflate_bound(in.size());
  size_t size = 0;
  if (a.size) {
    int32_t wanted = integer_get(a.size);
    if (wanted < 0) raise_error(kErrScriptInvalidArg, a.size);
    size = std::min(size_t(wanted), bound);
  } else {
    // A first call without room reports the size the stream produces.
    uint8_t none = 0;
    int status = m.decompress(&none, &size, bytes, in.size());
    if (status == kDeflateDone) return binary_result({}, 0);
    if (status != kDeflateTooSmall) raise_invalid_data(a.method);
  }
  std::vector<uint8_t> out;
  for (int attempt = 0; attempt < 2; attempt++) {
    if (size > bound) raise_invalid_data(a.method);
    out.resize(std::max<size_t>(size, 1));
    size_t got = size;
    int status = m.decompress(out.data(), &got, bytes, in.size());
    if (status == kDeflateDone) return binary_result(out, got);
    if (status != kDeflateTooSmall) break;
    size = got;
  }
  raise_invalid_data(a.method);
}

void compression_init() {
  KIV_INSTALL(Compress);
  KIV_INSTALL(Decompress);
}

}  // namespace kiv
