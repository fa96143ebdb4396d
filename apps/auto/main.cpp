// ramclean-auto: the same window, never shown; it cleans once and ends by itself.
#include "main_window.h"

namespace {

void on_created() {
    ramclean::set_status_text("");
    ramclean::destroy_request();
}
void on_exit_clicked() { ramclean::destroy_request(); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return ramclean::run_program({.visible = false,
                                  .events = {.created = on_created,
                                             .exit_clicked = on_exit_clicked}});
}
