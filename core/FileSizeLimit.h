#pragma once

// A write past the file-size limit (ulimit -f) raises SIGXFSZ, whose default action ends the
// process in the middle of a log line or a save. Every program calls this first in main: the
// signal then does nothing, the write fails with EFBIG, and its caller undoes or reports it.
// The signal is caught rather than ignored, so a program started from here (a command, a help
// viewer) gets the default action back when it is executed.
void OutliveFileSizeLimit();
