// ramclean-auto: the same window, never shown; it cleans once and ends by itself.
#include "cleaning_run.h"
#include "main_window.h"

namespace {

constexpr int settle_time_ms = 6000;
constexpr int cleaning_failed_exit_code = 1;

bool cleaned = false;

void on_clean_clicked() { cleaned = ramclean::cleaning_run(settle_time_ms, true); }
// The run starts as soon as the window exists and closes it at its end.
void on_created() {
    ramclean::stage_tools_and_clear_status();
    on_clean_clicked();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const int exit_code =
        ramclean::run_program({.visible = false,
                               .events = {.created = on_created,
                                          .clean_clicked = on_clean_clicked,
                                          .exit_clicked = ramclean::stop_tool_and_request_destroy,
                                          .will_be_destroyed = ramclean::stop_tool_processes}});
    // A scheduler sees a failed cleaning as a failed task.
    return exit_code == 0 && !cleaned ? cleaning_failed_exit_code : exit_code;
}
