// The boot image: boot data in KIVBIN's compact form, written at build time
// by kiv-bootgen (tools/kiv_bootgen.cpp) from the library's Kiv sources and
// embedded in the kiv executable. Start-up decodes it into the root block
// (library_load_image): its definitions give the natives, the actions and
// the library functions the sources define at their top level, already made
// and bound; its literals, left in the root block, are the rest of each
// source's code, which library_init runs in place of lexing the text, and
// the routines' specs.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

struct BootImageFile {
  const char* name;  // the source file's name, such as "core.kiv"
  uint32_t literal;  // the index of its code among the image's literals
};

struct BootImage {
  const uint8_t* data;
  uint32_t size;
  const BootImageFile* files;  // in start-up order
  int file_count;
  uint32_t routine_specs;  // the index of the block of the routines' specs (routines.h)
  // The index of the block of objects made with their words and bound
  // bodies, whose bodies start-up runs: for each, its source's index in
  // files, the object, the body, then the code that follows it in the source.
  uint32_t deferred_objects;
  uint32_t literal_count;
};

// The image kiv-bootgen generated: defined only in the unit it writes, which
// the kiv executable alone links.
extern const BootImage g_boot_image;

// Makes start-up use [image] (null: the embedded texts). Called before
// start-up; KIV_BOOT_FROM_TEXT=1 in the environment keeps the text start-up
// for one run (the tests compare the two).
void library_use_boot_image(const BootImage* image);
// True when this start-up goes from the boot image.
bool library_boot_image_chosen();

// MAY ALLOCATE. Decodes the boot image chosen into the root block, with the
// collector paused, after base_environment_init(false): defines the natives,
// the actions and the library functions it holds and keeps its literals in
// the root block, which never grows for them (a fixed buffer with room for
// kRootLiteralRoom, asserted). Data that is not KIVBIN ends the process with
// status 1 (kivbin_load_boot_data).
void library_load_image();

// How long start-up spent on the library, in microseconds: reading its
// sources (decoding the image or lexing the texts), running their code,
// then making the library's own context; and whether it used the image.
struct LibraryTimes {
  long long read_us = 0;
  long long run_us = 0;
  long long seal_us = 0;
};
LibraryTimes library_times();
bool library_booted_from_image();

}  // namespace kiv
