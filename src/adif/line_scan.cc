#include "adif/line_scan.h"

namespace qsoflat {

#if defined(QSOFLAT_SSE2_SCAN) && !defined(__SSE2__)
namespace {

bool processor_has_sse2() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (edx & bit_SSE2) != 0;
}

}  // namespace

const bool sse2_scan = processor_has_sse2();
#endif

bool line_scan_uses_sse2() { return sse2_scan; }

}  // namespace qsoflat
