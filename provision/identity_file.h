// The identity file of a provisioning run (-w with -N): the file the next
// MAC address and serial number are written back into. It is resolved to
// the real file once, locked beside that file while the run reads and
// rewrites it, and checked before any device is touched, so that stations
// sharing it never program one identity twice.
#pragma once

#include "core/run_settings.h"

// True when the run writes a stepped identity back into a file.
bool WritesIdentityBack(const RunSettings& rs);

// Resolves the identity file (rs.IdentityFilePath) and takes the exclusive
// lock of the file itself, before anything reads it, waiting for other
// runs (with a warning after two seconds); then checks that this user can
// replace it and that it has one name only. A missing file is left to the
// reader, which reports it: no lock then. 0; 10 after the messages when the
// file could not be rewritten; 3 when the lock cannot be taken.
int LockIdentityFile(RunSettings& rs);

// After the file was read: 0, or 3 after a message when a run that writes
// the identity back holds no lock on it (the file was missing when the lock
// was tried, and appeared before it was read).
int CheckIdentityFileLocked(const RunSettings& rs);

// Lets other runs take the identity file: after its write-back, or when the
// run will not write it.
void ReleaseIdentityFile(RunSettings& rs);

// The checks before the device is touched that the stepping stage after a
// successful write will succeed: the INI file holds the values to
// overwrite, and the stepped identity stays within its maxima. 0, or 10
// after the messages.
int CheckIdentityCanBeStored(RunSettings& rs);
