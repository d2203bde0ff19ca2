#pragma once

namespace okt::test {

// How long ending the client may take in the tests that quit it in every
// state: a second, as promised to the user. The sanitizers slow every thread
// several times over, so their builds allow more; a hang still fails.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kQuitBoundMs = 5000;
#else
constexpr int kQuitBoundMs = 1000;
#endif

}  // namespace okt::test
