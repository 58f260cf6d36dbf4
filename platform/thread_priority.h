// Raising the calling thread's scheduling priority, for threads that keep a
// sound card fed.
#pragma once

// On Linux: real-time scheduling where the process may use it; failing that,
// a lower nice value within what the process is granted. On Windows: the
// time-critical priority. Failing these, the thread keeps the priority it
// was born with.
void raiseThreadPriority();
