// The Windows headers as the platform layer uses them. Every file of this
// layer includes this header instead of <windows.h> directly.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

// The seam has an operation of this name; the system header maps it to its
// own ANSI function.
#undef ReplaceFile

#include "platform/platform.h"

// Handle conversions between the seam's plain types and the system's.
inline HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
inline FileHandle AsFileHandle(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }
inline HWND AsWindow(WindowHandle window) { return static_cast<HWND>(window); }
inline HMODULE AsModule(ModuleHandle module) { return static_cast<HMODULE>(module); }
inline HKEY AsKey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }
