// The temporary name that a file replacement has in use, if any, for a signal
// handler that removes it before the process dies of the signal. Nothing here
// installs a handler: a program that wants the name gone on a signal installs
// its own and calls remove_pending_temporary() from it.
#pragma once

namespace protocols {

// Async-signal-safe: removes the temporary file that a replacement is
// writing or about to rename, if there is one. Afterwards that replacement
// fails or publishes nothing; call it only on the way out.
void remove_pending_temporary() noexcept;

}  // namespace protocols
