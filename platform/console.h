// The console: the one confirmation character of the OTP flows.
#pragma once

namespace platform {

// Reads one character from standard input: the character, or -1 when the
// input has ended. Line-buffered input is fine; only the first character of
// the answer is taken.
int ReadConfirmationChar();

}  // namespace platform
