#pragma once

// Waits until the descriptor has bytes to read, for at most `ms`
// milliseconds; for -1 (nothing to watch: no device, or nothing the caller
// would take from it) it just lets the time pass. Loops that wait for an
// instrument's answer call it between two steps, so that they never spin a
// core, whatever the line does.
bool waitForReadable(int fd, int ms);
