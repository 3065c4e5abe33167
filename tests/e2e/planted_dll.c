/* planted.dll: a library someone left beside a downloaded updater.
 *
 * The dll-planting scenario copies it into the updater's folder under the
 * names of system libraries that programs are known to look for there. When
 * any process loads it, it leaves C:\planted-<the name it was loaded as>.txt
 * behind, so the scenario sees which copy ran, and in which program (the
 * marker holds that program's path). It exports nothing: a program that
 * imports a function from it still starts under Wine, which only warns.
 */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH], marker[MAX_PATH + 16] = "C:\\planted-", program[MAX_PATH];
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  lstrcatA(marker, name);
  lstrcatA(marker, ".txt");
  DWORD length = GetModuleFileNameA(NULL, program, MAX_PATH);
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD done;
    WriteFile(file, program, length < MAX_PATH ? length : 0, &done, NULL);
    CloseHandle(file);
  }
  return TRUE;
}
