// How many threads encode blocks at once.
#include <algorithm>
#include <cstdlib>
#include <thread>

#include "fa2/commands.h"

unsigned EncoderThreads() {
  if (const char* set = std::getenv("FA2_THREADS")) {
    const long n = std::strtol(set, nullptr, 10);
    if (n >= 1 && n <= 64) return unsigned(n);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}
