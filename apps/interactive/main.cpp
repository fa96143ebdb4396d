// ramclean: the window the user sees; each click on Clean runs one cleaning.
#include "cleaning_run.h"
#include "main_window.h"

namespace {

constexpr int settle_time_ms = 5000;

void on_clean_clicked() { ramclean::cleaning_run(settle_time_ms, false); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return ramclean::run_program(
        {.visible = true,
         .events = {.created = ramclean::stage_tools_and_clear_status,
                    .clean_clicked = on_clean_clicked,
                    .exit_clicked = ramclean::stop_tool_and_request_destroy,
                    .will_be_destroyed = ramclean::stop_tool_processes}});
}
