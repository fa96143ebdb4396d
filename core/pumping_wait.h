#pragma once
// Lets time pass on the window thread while its windows stay live.

namespace ramclean {

// Handles every message waiting for this thread, and each one that arrives meanwhile,
// through the main loop's one-message handling. Stops at WM_QUIT and leaves it queued.
// Never runs the main loop's idle handling.
void pumping_pass();

// Keeps handling messages until more than `duration_ms` milliseconds have passed; 0 or
// less returns at once. Handlers run nested inside the wait, which lasts at least as long
// as any of them. Sleeps between messages; while WM_QUIT is the next message it handles
// nothing behind it and sleeps out its time.
void pumping_wait(int duration_ms);

}  // namespace ramclean
