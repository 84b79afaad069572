// The boot image: the library's Kiv sources as the lexer reads them, written
// at build time by kiv-bootgen (tools/kiv_bootgen.cpp) as one KIVBIN stream
// per source file, in start-up order, and embedded in the kiv executable.
// Start-up decodes each stream in place of lexing its text; binding and
// running stay as they are for text.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

struct BootImageFile {
  const char* name;  // the source file's name, such as "core.kiv"
  uint32_t offset;   // of its stream in BootImage::data
  uint32_t length;   // of its stream
};

struct BootImage {
  const uint8_t* data;
  uint32_t size;
  const BootImageFile* files;
  int file_count;
};

// The image kiv-bootgen generated: defined only in the unit it writes, which
// the kiv executable alone links.
extern const BootImage g_boot_image;

// Makes library_init start up from [image] (null: from the embedded texts).
// Called before start-up; KIV_BOOT_FROM_TEXT=1 in the environment keeps the
// text start-up for one run (the tests compare the two).
void library_use_boot_image(const BootImage* image);

// MAY ALLOCATE. Decodes the stream of one source file ([length] bytes at
// [data]) and pushes the block of its values, header included. Data that is
// not KIVBIN ends the process with status 1 (kivbin_load_boot_data); a stream
// that does not hold exactly one block raises script invalid-data.
Cell* library_push_image_file(const uint8_t* data, uint32_t length);

// How long library_init spent reading the sources (decoding the image or
// lexing the texts), in microseconds, and whether it used the image.
long long library_load_microseconds();
bool library_booted_from_image();

}  // namespace kiv
