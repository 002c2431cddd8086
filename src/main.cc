#include "qsoflat.h"

// On Windows the program starts at wmain (platform.cc) instead.
int main(int argc, char** argv) {
  return qsoflat_main(argc, argv);
}
