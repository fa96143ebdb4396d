#pragma once
// The cleaning run: start the cleaning script, let the tool settle, stop it, clean up.

namespace ramclean {

// Ends one process named "RAMMap.exe" and one named "RAMMap64.exe".
void stop_tool_processes();

// Sets the running text, stages the tool files again if needed and starts the script
// hidden in C:\ inside a job of the run's own, waits `settle_time_ms` while handling
// messages, sets the finished text, stops the tool, ends the job with whatever the script
// still runs and deletes the script; with `close_after_run` it then asks for the main window
// to be destroyed. When the tool files cannot be put in place or the script cannot be
// started, it does not wait and shows a failure text instead (stopping the tool and deleting
// the script all the same); so it does when the script is still there afterwards. True when
// the script was started and is gone at the end.
bool cleaning_run(int settle_time_ms, bool close_after_run);

}  // namespace ramclean
