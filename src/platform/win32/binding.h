// The run-time binding table: the three system libraries and the operations
// that are reached through them instead of through the import table.
#pragma once

#include "platform/win32/wide.h"

struct BoundOperations {
  HMODULE fileLibrary;     // files, attributes, later the resources
  HMODULE shellLibrary;    // the shell copy
  HMODULE registryLibrary; // registry reading

  decltype(&::CreateFileW) createFile;
  decltype(&::WriteFile) writeFile;
  decltype(&::ReadFile) readFile;
  decltype(&::GetFileSize) getFileSize;
  decltype(&::SetFilePointer) setFilePointer;
  decltype(&::CloseHandle) closeHandle;
  decltype(&::SetFileAttributesW) setFileAttributes;
  decltype(&::GetFileAttributesW) getFileAttributes;
  decltype(&::SHFileOperationW) shellFileOperation;
  decltype(&::RegOpenKeyExW) openKey;
  decltype(&::RegQueryValueExW) queryValue;
  decltype(&::RegCloseKey) closeKey;

  // Looked up when the archive resource is first located; never tested.
  decltype(&::FindResourceW) findResource;
  decltype(&::SizeofResource) sizeofResource;
  decltype(&::LoadResource) loadResource;
  decltype(&::LockResource) lockResource;
};

// The process's one table. Empty until BindSystemOperations has run.
BoundOperations& Bound();

// Looks up the four resource operations in the file library.
void BindResourceOperations();
