// pumping_wait: messages are handled inside the wait as they arrive, the wait lasts past
// its deadline and no longer than it needs, a quit stays queued, and the thread sleeps
// between messages instead of spinning.
#include "pumping_wait.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "main_window.h"
#include "test_support.h"

using ramclean::pumping_wait;

namespace {

constexpr UINT message_a = WM_APP + 1;
constexpr UINT message_b = WM_APP + 2;
constexpr UINT message_sent = WM_APP + 3;

std::vector<std::string> log_entries;
std::map<UINT, std::function<void()>> actions;  // what a handler does besides logging
ULONGLONG wait_started = 0;
std::map<std::string, ULONGLONG> handled_at;  // ms after wait_started

void record(const std::string& entry) {
    log_entries.push_back(entry);
    handled_at[entry] = GetTickCount64() - wait_started;
}

LRESULT CALLBACK recorder_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    const std::map<UINT, const char*> names = {
        {message_a, "A"}, {message_b, "B"}, {message_sent, "sent"}, {WM_TIMER, "timer"}};
    auto name = names.find(message);
    if (name == names.end()) return DefWindowProcA(hwnd, message, wparam, lparam);
    record(name->second);
    if (message == WM_TIMER) KillTimer(hwnd, wparam);
    if (auto action = actions.find(message); action != actions.end()) action->second();
    return 0;
}

void record_clean() { record("clean"); }
void record_exit() {
    record("exit");
    ramclean::destroy_request();
}
void record_destroyed() { record("will-be-destroyed"); }
void record_idle() { record("idle"); }

class PumpingWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_entries.clear();
        actions.clear();
        handled_at.clear();
        WNDCLASSA wc{};
        wc.lpfnWndProc = recorder_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "PumpingWaitRecorder";
        RegisterClassA(&wc);
        recorder = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                                   nullptr, wc.hInstance, nullptr);
        ASSERT_NE(recorder, nullptr);
        drain_queue();  // the new window's own messages are not part of any case
        log_entries.clear();
    }
    void TearDown() override {
        if (helper.joinable()) helper.join();
        if (ramclean::main_window() != nullptr) DestroyWindow(ramclean::main_window());
        DestroyWindow(recorder);
        drain_queue();
    }

    static void drain_queue() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }

    // Runs the wait, logs its return; its length as the tick count measures it.
    ULONGLONG timed_wait(int duration_ms) {
        wait_started = GetTickCount64();
        pumping_wait(duration_ms);
        const ULONGLONG elapsed = GetTickCount64() - wait_started;
        record("returned");
        return elapsed;
    }

    // Starts another thread that runs `step` after `delay_ms`.
    void later(DWORD delay_ms, std::function<void()> step) {
        helper = std::thread([delay_ms, step] {
            Sleep(delay_ms);
            step();
        });
    }

    HWND recorder = nullptr;
    std::thread helper;
};

std::vector<std::string> entries(std::initializer_list<const char*> list) {
    return std::vector<std::string>(list.begin(), list.end());
}

}  // namespace

TEST_F(PumpingWaitTest, ZeroAndNegativeDurationsReturnAtOnceHandlingNothing) {
    PostMessageA(recorder, message_a, 0, 0);
    for (int duration : {0, -1, INT_MIN}) pumping_wait(duration);
    EXPECT_TRUE(log_entries.empty());
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, message_a);
}

TEST_F(PumpingWaitTest, MessagesWaitingAtTheStartAndThoseTheirHandlersPostAreHandledInside) {
    actions[message_a] = [this] { PostMessageA(recorder, message_b, 0, 0); };
    for (int duration : {1, 50}) {
        SCOPED_TRACE(duration);
        log_entries.clear();
        PostMessageA(recorder, message_a, 0, 0);
        timed_wait(duration);
        EXPECT_EQ(log_entries, entries({"A", "B", "returned"}));
    }
}

TEST_F(PumpingWaitTest, LastsPastItsDeadlineAndAtLeastAsLongAsAHandlerItRuns) {
    for (int duration : {1, 20, 300}) {
        const ULONGLONG elapsed = timed_wait(duration);
        EXPECT_GT(elapsed, static_cast<ULONGLONG>(duration));
        EXPECT_LT(elapsed, static_cast<ULONGLONG>(duration) + 1000);  // and then it ends
    }
    actions[message_a] = [] { Sleep(400); };
    PostMessageA(recorder, message_a, 0, 0);
    EXPECT_GE(timed_wait(100), 400u);
}

TEST_F(PumpingWaitTest, MessagesArrivingDuringTheWaitAreHandledAsTheyArriveWithoutIdleHandling) {
    ramclean::program_settings settings;
    settings.visible = false;
    settings.events.clean_clicked = record_clean;
    settings.events.idle = record_idle;
    ASSERT_TRUE(ramclean::create_main_window(settings));
    HWND clean_button = GetDlgItem(ramclean::main_window(), ramclean::clean_button_id);
    const HWND target = recorder;
    later(150, [target, clean_button] {
        PostMessageA(target, message_a, 0, 0);
        Sleep(150);
        SendMessageA(clean_button, BM_CLICK, 0, 0);
    });

    const ULONGLONG elapsed = timed_wait(1500);
    EXPECT_EQ(log_entries, entries({"A", "clean", "returned"}));
    // Handled when they came, not when the wait woke up at its end.
    EXPECT_LT(handled_at["A"], 1000u);
    EXPECT_LT(handled_at["clean"], 1000u);
    EXPECT_GT(elapsed, 1500u);
}

// The program posts its quit when the main window goes (PostQuitMessage: it comes after
// posted messages, before timers); another thread may post one as an ordinary message.
TEST_F(PumpingWaitTest, AQuitPostedDuringTheWaitStaysNextAndNothingBehindItIsHandled) {
    struct quit_case {
        const char* name;
        std::function<void(HWND)> post_quit_then_more;
        UINT expected_after_quit;
    };
    const DWORD thread_id = GetCurrentThreadId();
    const quit_case cases[] = {
        {"PostQuitMessage, then a timer",
         [](HWND window) {
             PostQuitMessage(7);
             SetTimer(window, 1, 10, nullptr);
         },
         WM_TIMER},
        {"posted WM_QUIT, then a posted message",
         [thread_id](HWND window) {
             PostThreadMessageA(thread_id, WM_QUIT, 7, 0);
             PostMessageA(window, message_b, 0, 0);
         },
         message_b},
    };
    for (const quit_case& c : cases) {
        SCOPED_TRACE(c.name);
        log_entries.clear();
        const HWND window = recorder;
        actions[message_a] = [&c, window] { c.post_quit_then_more(window); };
        PostMessageA(recorder, message_a, 0, 0);

        EXPECT_GT(timed_wait(300), 300u);  // not shortened
        EXPECT_EQ(log_entries, entries({"A", "returned"}));
        MSG msg;
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
        EXPECT_EQ(msg.wParam, 7u);
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, c.expected_after_quit);
        drain_queue();
    }
}

TEST_F(PumpingWaitTest, WhileAQuitIsPendingAMessageSentFromAnotherThreadIsStillHandled) {
    PostQuitMessage(3);
    const HWND target = recorder;
    later(200, [target] { SendMessageA(target, message_sent, 0, 0); });
    EXPECT_GT(timed_wait(1500), 1500u);
    EXPECT_EQ(log_entries, entries({"sent", "returned"}));
    EXPECT_LT(handled_at["sent"], 1000u);
}

TEST_F(PumpingWaitTest, TheMainWindowDestroyedInsideTheWaitLeavesTheWaitToRunOut) {
    ramclean::run_message_loop();  // no window yet: only marks the loop as entered
    ramclean::program_settings settings;
    settings.visible = false;
    settings.events.exit_clicked = record_exit;
    settings.events.will_be_destroyed = record_destroyed;
    ASSERT_TRUE(ramclean::create_main_window(settings));
    const HWND window = ramclean::main_window();
    PostMessageA(GetDlgItem(window, ramclean::exit_button_id), BM_CLICK, 0, 0);

    EXPECT_GT(timed_wait(300), 300u);
    EXPECT_EQ(log_entries, entries({"exit", "will-be-destroyed", "returned"}));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(ramclean::main_window(), nullptr);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
}

// A spinning wait burns a whole processor; a sleeping one next to nothing, also while a
// quit is pending (where the message wait itself would return at once).
TEST_F(PumpingWaitTest, SleepsBetweenMessagesInsteadOfSpinning) {
    for (bool quit_pending : {false, true}) {
        SCOPED_TRACE(quit_pending ? "quit pending" : "empty queue");
        if (quit_pending) PostQuitMessage(0);
        const double cpu_before = test_support::processor_ms();
        const ULONGLONG elapsed = timed_wait(1500);
        const double cpu = test_support::processor_ms() - cpu_before;
        EXPECT_LT(cpu * 10, static_cast<double>(elapsed))
            << cpu << " ms of processor time in " << elapsed << " ms";
        drain_queue();
    }
}
