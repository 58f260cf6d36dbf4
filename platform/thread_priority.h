// Raising the calling thread's scheduling priority, for threads that keep a
// sound card fed.
#pragma once

// Real-time scheduling where the process may use it; failing that, a lower
// nice value within what the process is granted; failing both, the thread
// keeps the priority it was born with.
void raiseThreadPriority();
