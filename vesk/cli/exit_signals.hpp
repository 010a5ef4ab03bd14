// How the vesk command meets the signals that end it while it writes a file.
#pragma once

namespace vesk {

// For the whole process, once at start: SIGINT, SIGTERM and SIGHUP remove a
// temporary file that a replacement has in use (on file systems without
// unnamed files) before the signal ends the process as it would have; one
// that the process was started ignoring stays ignored. SIGXFSZ is ignored,
// so that a file-size limit fails the write (EFBIG) and is reported, rather
// than killing the process midway.
void prepare_exit_signals();

}  // namespace vesk
