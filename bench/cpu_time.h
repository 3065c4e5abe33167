// This thread's CPU time in seconds: on a machine shared with other work,
// time spent waiting for a core is not counted against what is measured.
#pragma once

#include <ctime>

inline double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}
