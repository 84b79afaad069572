// The kiv executable: runs the runtime on a thread with a large stack.
#include "boot/start.h"

#ifdef KIV_BOOT_IMAGE
#include "library/boot_image.h"
#endif

int main(int argc, char** argv) {
#ifdef KIV_BOOT_IMAGE
  kiv::library_use_boot_image(&kiv::g_boot_image);
#endif
  return kiv::start(argc, argv);
}
