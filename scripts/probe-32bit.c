/* Whether this machine can run 32-bit x86 code at all: exit 0 if it can, 1 if not.
 *
 * A 64-bit Linux process (and Wine's WoW64 mode, which runs the 32-bit updater inside one)
 * reaches 32-bit code through the kernel's 32-bit user code segment, selector 0x23. A kernel
 * without IA32 emulation leaves that segment out, and a far transfer to it faults. So a child
 * process tries exactly that: it maps a few bytes below 4 GiB, far-returns into them as 32-bit
 * code, which sets eax and far-returns to the 64-bit segment (0x33), and comes back to C. The
 * child exits 0 only when that round trip worked; a fault kills it instead.
 *
 * Built by scripts/runs-32bit.sh with the system's cc; x86_64 Linux only. */
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

enum { kPage = 0x300000, kSavedStack = 0x800, kLowStack = 0xF00, kCode32 = 0x100, kBack64 = 0x200 };

static unsigned char *emit(unsigned char *at, const void *bytes, size_t n) {
  memcpy(at, bytes, n);
  return at + n;
}

static unsigned char *emit32(unsigned char *at, uint32_t v) { return emit(at, &v, 4); }

static int round_trip(void) {
  unsigned char *page = mmap((void *)(uintptr_t)kPage, 4096, PROT_READ | PROT_WRITE | PROT_EXEC,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  if (page == MAP_FAILED) return -1;
  unsigned char *c = page;
  c = emit(c, "\x48\x89\x24\x25", 4), c = emit32(c, kPage + kSavedStack); /* mov [saved], rsp */
  c = emit(c, "\xBC", 1), c = emit32(c, kPage + kLowStack);               /* mov esp, low stack */
  c = emit(c, "\x6A\x23", 2);                                             /* push 0x23 */
  c = emit(c, "\x68", 1), c = emit32(c, kPage + kCode32);                 /* push 32-bit code */
  emit(c, "\x48\xCB", 2);                                                 /* retfq */
  c = page + kCode32;
  c = emit(c, "\xB8", 1), c = emit32(c, 32);                              /* mov eax, 32 */
  c = emit(c, "\x6A\x33", 2);                                             /* push 0x33 */
  c = emit(c, "\x68", 1), c = emit32(c, kPage + kBack64);                 /* push 64-bit code */
  emit(c, "\xCB", 1);                                                     /* retf */
  c = page + kBack64;
  c = emit(c, "\x48\x8B\x24\x25", 4), c = emit32(c, kPage + kSavedStack); /* mov rsp, [saved] */
  emit(c, "\xC3", 1);                                                     /* ret */
  return ((int (*)(void))(uintptr_t)kPage)();
}

int main(void) {
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) _exit(round_trip() == 32 ? 0 : 1);
  int status = 0;
  if (waitpid(child, &status, 0) != child) return 1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
