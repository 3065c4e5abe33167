// The run-time binding table: the system libraries and the operations that
// are reached through them instead of through the import table. Every one is
// loaded by its full path in the system folder, never searched for.
#pragma once

#include "platform/win32/wide.h"

#include <bcrypt.h>

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

  // Bound at the first digest or random request (BindCryptography).
  HMODULE cryptoLibrary;
  decltype(&::BCryptOpenAlgorithmProvider) openAlgorithm;
  decltype(&::BCryptCreateHash) createHash;
  decltype(&::BCryptHashData) hashData;
  decltype(&::BCryptFinishHash) finishHash;
  decltype(&::BCryptDestroyHash) destroyHash;
  decltype(&::BCryptCloseAlgorithmProvider) closeAlgorithm;
  decltype(&::BCryptGenRandom) generateRandom;
};

// The process's one table. Empty until BindSystemOperations has run.
BoundOperations& Bound();

// Looks up the four resource operations in the file library.
void BindResourceOperations();
// Loads the cryptography library and looks up its seven operations, on the
// first call only: 1 when all are there, else 0 (then none is used), and
// every later call gives the same answer.
int BindCryptography();
