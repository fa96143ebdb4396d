// ramclean: the window the user sees; each click on Clean runs one cleaning.
#include "cleaning_run.h"
#include "main_window.h"
#include "staging.h"

namespace {

constexpr int settle_time_ms = 5000;

void on_created() {
    ramclean::stage_tools();
    ramclean::set_status_text("");
}
void on_clean_clicked() { ramclean::cleaning_run(settle_time_ms, false); }
void on_exit_clicked() {
    ramclean::stop_tool_processes();
    ramclean::destroy_request();
}
void on_will_be_destroyed() { ramclean::stop_tool_processes(); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return ramclean::run_program({.visible = true,
                                  .events = {.created = on_created,
                                             .clean_clicked = on_clean_clicked,
                                             .exit_clicked = on_exit_clicked,
                                             .will_be_destroyed = on_will_be_destroyed}});
}
