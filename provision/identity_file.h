// The identity file of a provisioning run (-w with -N): the file the next
// MAC address and serial number are written back into. It is resolved to
// the real file once, locked beside that file while the run reads and
// rewrites it, and checked before any device is touched, so that stations
// sharing it never program one identity twice.
#pragma once

#include "core/run_settings.h"

// True when the run writes a stepped identity back into a file.
bool WritesIdentityBack(const RunSettings& rs);

// Resolves the identity file (rs.IdentityFilePath), checks that this user
// can replace it, and takes the exclusive lock on "<real file>.lock",
// waiting for other runs (with a warning after two seconds). A missing file
// is left to the reader, which reports it: no lock then. 0; 10 after the
// messages when the file could not be rewritten; 3 when the lock cannot be
// taken.
int LockIdentityFile(RunSettings& rs);

// Lets other runs take the identity file: after its write-back, or when the
// run will not write it.
void ReleaseIdentityFile(RunSettings& rs);

// The checks before the device is touched that the stepping stage after a
// successful write will succeed: the INI file holds the values to
// overwrite, and the stepped identity stays within its maxima. 0, or 10
// after the messages.
int CheckIdentityCanBeStored(RunSettings& rs);
