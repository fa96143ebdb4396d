// ramclean-auto: the same window, never shown; it cleans once and ends by itself.
#include "cleaning_run.h"
#include "main_window.h"
#include "staging.h"

namespace {

constexpr int settle_time_ms = 6000;
constexpr int cleaning_failed_exit_code = 1;

bool cleaned = false;

void on_clean_clicked() { cleaned = ramclean::cleaning_run(settle_time_ms, true); }
void on_created() {
    ramclean::stage_tools();
    ramclean::set_status_text("");
    on_clean_clicked();
}
void on_exit_clicked() {
    ramclean::stop_tool_processes();
    ramclean::destroy_request();
}
void on_will_be_destroyed() { ramclean::stop_tool_processes(); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const int exit_code =
        ramclean::run_program({.visible = false,
                               .events = {.created = on_created,
                                          .clean_clicked = on_clean_clicked,
                                          .exit_clicked = on_exit_clicked,
                                          .will_be_destroyed = on_will_be_destroyed}});
    // A scheduler sees a failed cleaning as a failed task.
    return exit_code == 0 && !cleaned ? cleaning_failed_exit_code : exit_code;
}
