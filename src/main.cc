#include "qsoflat.h"

int main(int argc, char** argv) {
  return qsoflat_main(argc, argv);
}
