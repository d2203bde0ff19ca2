#include "platform/vector_state.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace okt::platform {
namespace {

__attribute__((target("avx"))) void zeroUpper() { _mm256_zeroupper(); }

bool hasAvx() {
  static const bool avx = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
  }();
  return avx;
}

}  // namespace

void clearUpperVectorState() {
  if (hasAvx()) zeroUpper();
}

}  // namespace okt::platform

#else

namespace okt::platform {
void clearUpperVectorState() {}
}  // namespace okt::platform

#endif
