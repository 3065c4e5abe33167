/* kill-at-rename.so: a program killed just before one rename or deletion of
 * its update.
 *
 * A test-only shim loaded with LD_PRELOAD into the wineserver, which makes
 * the renames and deletions of every Wine process. It counts the renames
 * and deletions whose source or target path holds "~fa2" (the updater's staged files, backups and
 * journal) and, when FA2_KILL_WITHIN is set, starts with it (the game's
 * folder). When the file FA2_KILL_AT names a number N, the
 * N-th such operation is never made: the shim deletes that file (so the next
 * run goes through), kills with SIGKILL every process whose first ".exe"
 * argument ends with FA2_KILL_PROGRAM (the updater under test; Wine runs
 * through a loader, so that is not the first argument), as a crash or a power
 * failure would stop it at that point, and fails the rename.
 *
 * Built by the scenario that needs it: cc -shared -fPIC -o kill-at-rename.so
 * kill-at-rename.c -ldl
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int gCount;

static void KillProgram(const char* program) {
  DIR* proc = opendir("/proc");
  if (!proc) return;
  const size_t length = strlen(program);
  struct dirent* e;
  while ((e = readdir(proc))) {
    const int pid = atoi(e->d_name);
    if (pid <= 0) continue;
    char path[64], line[8192];
    snprintf(path, sizeof path, "/proc/%d/cmdline", pid);
    int f = open(path, O_RDONLY);
    if (f < 0) continue;
    ssize_t n = read(f, line, sizeof line - 1);
    close(f);
    if (n <= 0) continue;
    line[n] = 0;
    /* The arguments, NUL-separated: the first one naming an .exe decides. */
    for (const char* argument = line; argument < line + n; argument += strlen(argument) + 1) {
      const size_t have = strlen(argument);
      if (have < 4 || strcasecmp(argument + have - 4, ".exe") != 0) continue;
      if (have >= length && strcasecmp(argument + have - length, program) == 0) kill(pid, SIGKILL);
      break;
    }
  }
  closedir(proc);
}

/* 1 when this rename is the one to die at. */
static int DiesHere(const char* from, const char* to) {
  if (!strstr(from, "~fa2") && !strstr(to, "~fa2")) return 0;
  const char* within = getenv("FA2_KILL_WITHIN");
  if (within && strncmp(from, within, strlen(within)) != 0 && strncmp(to, within, strlen(within)) != 0) return 0;
  /* The control file itself is deleted below: never counted. */
  const char* control = getenv("FA2_KILL_AT");
  const char* program = getenv("FA2_KILL_PROGRAM");
  if (!control || !program) return 0;
  FILE* f = fopen(control, "r");
  if (!f) return 0;
  int at = 0;
  if (fscanf(f, "%d", &at) != 1) at = 0;
  fclose(f);
  if (++gCount != at) return 0;
  unlink(control);
  gCount = 0;
  KillProgram(program);
  errno = EIO;
  return 1;
}

int unlink(const char* path) {
  static int (*real)(const char*);
  if (!real) real = (int (*)(const char*))dlsym(RTLD_NEXT, "unlink");
  return DiesHere(path, "") ? -1 : real(path);
}

int unlinkat(int dir, const char* path, int flags) {
  static int (*real)(int, const char*, int);
  if (!real) real = (int (*)(int, const char*, int))dlsym(RTLD_NEXT, "unlinkat");
  return DiesHere(path, "") ? -1 : real(dir, path, flags);
}

int rename(const char* from, const char* to) {
  static int (*real)(const char*, const char*);
  if (!real) real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  return DiesHere(from, to) ? -1 : real(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  static int (*real)(int, const char*, int, const char*);
  if (!real) real = (int (*)(int, const char*, int, const char*))dlsym(RTLD_NEXT, "renameat");
  return DiesHere(from, to) ? -1 : real(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
  static int (*real)(int, const char*, int, const char*, unsigned int);
  if (!real) real = (int (*)(int, const char*, int, const char*, unsigned int))dlsym(RTLD_NEXT, "renameat2");
  return DiesHere(from, to) ? -1 : real(fromDir, from, toDir, to, flags);
}
