#pragma once
// The settings file on disk. It is only ever replaced as a whole (temporary file, fsync, rename),
// so a plain open sees one complete version and reads need no lock. Every change is a
// read-modify-write under an exclusive flock on "<file>.lock": another process's change made in the
// meantime is read again and kept. The lock file stays, as removing it would let two writers hold
// locks on two different files.
//
// A rewrite keeps every line of the file where it stood, lines we could not read included. A file
// whose lines cannot all be kept (no header we know, text that cannot be decoded, too large) is kept
// beside the new one before its first replacement, as "<file>.beschaedigt-YYYYMMDD-HHMMSS" (local
// time; "-2", "-3", ... when that name is taken). It is a hard link to the old contents where the
// file system allows, otherwise a copy. The file written then holds every line, so the same damage
// is never kept twice.

#include <functional>
#include <string>

#include "settings/registry_format.h"

enum class TRegFileState { Missing, Read, Unreadable };

struct TRegFileSnapshot {
  TRegFileState State = TRegFileState::Missing;
  // For Missing and Unreadable an empty document.
  TRegParseResult Content;
};

// Larger files are not read at all: a settings file never grows this big, so it is taken as not
// understood and treated as empty (and kept aside before it is replaced).
constexpr long long MaxRegistryFileSize = 16LL * 1024 * 1024;

TRegFileSnapshot ReadRegistryFile(const std::string& path);

// Creates the file's folder if needed, locks, reads the current contents and lets change edit them.
// When change reports an edit the file is replaced. False when the folder, the lock, reading, keeping
// the damaged original or the replacement failed; change is not called when reading failed.
bool UpdateRegistryFile(const std::string& path, const std::function<bool(TRegFileDocument&)>& change);
