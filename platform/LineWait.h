#pragma once

// Waits until the descriptor has bytes to read, for at most `ms`
// milliseconds (returns at once for -1). Loops that wait for an instrument's
// answer call it between two steps, so that they do not spin a core.
bool waitForReadable(int fd, int ms);
