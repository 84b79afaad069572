// The kiv executable: runs the runtime on a thread with a large stack.
#include "boot/start.h"

int main(int argc, char** argv) { return kiv::start(argc, argv); }
