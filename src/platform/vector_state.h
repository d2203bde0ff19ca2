#pragma once

namespace okt::platform {

// Some library code (Qt's AVX2 drawing among it) returns with the upper
// halves of the AVX registers still in use. Until they are cleared, the SSE
// instructions of code built for the x86-64 baseline (the picture decoders,
// the resampler) wait on them and run at half speed or worse. Clearing
// changes no result; on processors without AVX it does nothing.
void clearUpperVectorState();

// Clears the state when it goes out of scope: declared before a QPainter,
// after the painter is done.
struct VectorStateGuard {
  VectorStateGuard() = default;
  VectorStateGuard(const VectorStateGuard&) = delete;
  VectorStateGuard& operator=(const VectorStateGuard&) = delete;
  ~VectorStateGuard() { clearUpperVectorState(); }
};

}  // namespace okt::platform
