/* hold-read.so: holds the first read of one file until the scenario says go.
 *
 * A test-only shim for Wine processes, loaded with LD_PRELOAD. When a process
 * first reads from the file FA2_HOLD_READ (a Linux path), it creates
 * FA2_HOLD_SIGNALS/held and waits (at most a minute) until
 * FA2_HOLD_SIGNALS/released exists, then reads on. The scenario's shell uses
 * the pause to change the world at an exact point of the program under test,
 * for instance to take a disc out while the program copies from it (the open
 * file stays readable after it is removed).
 *
 * Built by the scenario that needs it: cc -shared -fPIC -o hold-read.so
 * hold-read.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static int gHeld;
static int gKnown;
static dev_t gDevice;
static ino_t gInode;

// Creates folder/name holding a line that says which process wrote it.
static void Touch(const char* folder, const char* name) {
  char path[4096], line[4200], program[4096] = "?";
  snprintf(path, sizeof path, "%s/%s", folder, name);
  int f = open(path, O_CREAT | O_WRONLY | O_APPEND, 0644);
  if (f < 0) return;
  int c = open("/proc/self/cmdline", O_RDONLY);
  if (c >= 0) {
    ssize_t n = pread(c, program, sizeof program - 1, 0); /* gHeld is set: no second hold */
    program[n > 0 ? n : 0] = 0;
    for (ssize_t i = 0; i < n; ++i)
      if (!program[i]) program[i] = ' ';
    close(c);
  }
  int length = snprintf(line, sizeof line, "%d %s\n", (int)getpid(), program);
  if (length > 0 && write(f, line, (size_t)length) < 0) { /* nothing to do */
  }
  close(f);
}

static int Exists(const char* folder, const char* name) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", folder, name);
  return access(path, F_OK) == 0;
}

static void MaybeHold(int fd) {
  if (gHeld) return;
  const char* target = getenv("FA2_HOLD_READ");
  const char* signals = getenv("FA2_HOLD_SIGNALS");
  if (!target || !signals) return;
  if (!gKnown) {
    struct stat s;
    if (stat(target, &s) != 0) return;
    gDevice = s.st_dev;
    gInode = s.st_ino;
    gKnown = 1;
  }
  struct stat s;
  if (fstat(fd, &s) != 0 || s.st_dev != gDevice || s.st_ino != gInode) return;
  // The same inode number may belong to another file by now (the target
  // was replaced since this process looked): the path must match too.
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return;
  path[n] = 0;
  if (strcmp(path, target) != 0) return;
  gHeld = 1;
  Touch(signals, "held");
  for (int i = 0; i < 3000 && !Exists(signals, "released"); ++i) {
    struct timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, NULL);
  }
}

ssize_t read(int fd, void* buffer, size_t count) {
  static ssize_t (*real)(int, void*, size_t);
  if (!real) real = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
  MaybeHold(fd);
  return real(fd, buffer, count);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  static ssize_t (*real)(int, void*, size_t, off_t);
  if (!real) real = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread");
  MaybeHold(fd);
  return real(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  static ssize_t (*real)(int, void*, size_t, off_t);
  if (!real) real = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread64");
  MaybeHold(fd);
  return real(fd, buffer, count, offset);
}
