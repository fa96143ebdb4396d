// ramclean: the window the user sees; each click on Clean runs one cleaning.
#include "main_window.h"

namespace {

void on_created() { ramclean::set_status_text(""); }
void on_exit_clicked() { ramclean::destroy_request(); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return ramclean::run_program({.visible = true,
                                  .events = {.created = on_created,
                                             .exit_clicked = on_exit_clicked}});
}
