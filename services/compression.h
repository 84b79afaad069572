// The compress and decompress natives: the front ends of the DEFLATE
// compressor and inflater (services/deflate.h) and their zlib and gzip
// wrappers (services/zlib_gzip.h), chosen by the method words zlib, deflate
// and gzip.
#pragma once

namespace kiv {

// Start-up: installs the compress and decompress natives.
void compression_init();

}  // namespace kiv
