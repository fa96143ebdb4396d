#pragma once
// The cleaning run: start the cleaning script, let the tool settle, stop it, clean up.

namespace ramclean {

// Ends one process named "RAMMap.exe" and one named "RAMMap64.exe". Both programs bind it to
// the will-be-destroyed event.
void stop_tool_processes();

// The rest that both programs bind alike. At creation: stages the tool files and empties the
// status label. At the Exit button: stops the tool's processes and asks for the main window to
// be destroyed.
void stage_tools_and_clear_status();
void stop_tool_and_request_destroy();

// Sets the running text; checks that the process may do what the tool needs, puts the tool
// files in place and holds them (nobody can change them until the run deletes the script),
// and starts the script hidden in C:\ inside a job of the run's own; waits `settle_time_ms`
// while handling messages, sets the finished text, stops the tool, ends the job with whatever
// the script still runs and deletes the script; with `close_after_run` it then asks for the
// main window to be destroyed. When the privilege is missing, the tool files cannot be put in
// place or the script cannot be started, it does not wait and shows a failure text instead
// (stopping the tool and deleting the script all the same); so it does when the outermost
// run finds the script still there afterwards. True when the script was started and is gone.
bool cleaning_run(int settle_time_ms, bool close_after_run);

}  // namespace ramclean
