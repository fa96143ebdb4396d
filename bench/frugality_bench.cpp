// How much processor time and memory a cleaning costs. First three ways to let 3 s pass on a
// window thread, side by side, while another thread posts a timestamped message every 10 ms:
// the pumping wait, a busy poll of the queue and the tick count (two pumping passes between
// readings, never sleeping), and a plain GetMessage loop, the floor that any live window
// costs. All three handle a message the same way, through the main loop's one-message
// handling, so only how they wait differs. Then the pumping wait with WM_QUIT pending, and a
// whole ramclean-auto run started as a user would.
// Reading the figures: under Wine thread times advance in 10 ms steps, so a 3 s share moves
// in steps of a third of a point; and a thread's times leave out the work the system does
// for it elsewhere (under Wine, in the wineserver), which understates the busy poll most.
// Prints one line per measurement; run with `scripts/test.sh --bench`.
#include <windows.h>
// Needs the types of windows.h.
#include <psapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "handles.h"
#include "main_window.h"
#include "process.h"
#include "pumping_wait.h"
#include "test_support.h"

namespace {

constexpr int loop_ms = 3000;
constexpr int post_interval_ms = 10;
constexpr int max_messages = 1024;          // room for the posts of a loop that overruns its time
constexpr UINT probe_message = WM_APP + 1;  // wParam: sequence number into posted_at
constexpr UINT_PTR loop_end_timer = 1;

// Goals: the pumping wait costs at most this much more than the floor, and handles a
// message at most this much later than the busy poll.
constexpr double goal_share_points = 1.0;
constexpr double goal_latency_ms = 1.0;

long long now_ticks() noexcept {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double ticks_per_ms() noexcept {
    static const double per_ms = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    return per_ms;
}

double ms_between(long long from, long long to) noexcept {
    return static_cast<double>(to - from) / ticks_per_ms();
}

// Wall and processor time of the calling thread since construction.
class stopwatch {
public:
    [[nodiscard]] double wall_ms() const { return ms_between(wall_start_, now_ticks()); }
    [[nodiscard]] double cpu_ms() const {
        return test_support::processor_ms(GetCurrentThread()) - cpu_start_;
    }

private:
    double cpu_start_ = test_support::processor_ms(GetCurrentThread());
    long long wall_start_ = now_ticks();
};

// What the posting thread and the probe window share. The poster stores a message's post
// time before posting it; the window reads it back when the message is handled.
struct message_probe {
    HWND window = nullptr;
    std::array<std::atomic<long long>, max_messages> posted_at{};
    // Window thread only.
    std::array<double, max_messages> latency_ms{};
    int handled = 0;
    bool recording = false;
    bool time_is_up = false;
};

LRESULT CALLBACK probe_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    auto* probe = reinterpret_cast<message_probe*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (probe == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
    switch (message) {
        case probe_message:
            if (probe->recording && wparam < static_cast<WPARAM>(max_messages)) {
                const long long posted = probe->posted_at[wparam].load(std::memory_order_acquire);
                probe->latency_ms[probe->handled++] = ms_between(posted, now_ticks());
            }
            return 0;
        case WM_TIMER:
            if (wparam == loop_end_timer) probe->time_is_up = true;
            return 0;
        default: return DefWindowProcA(hwnd, message, wparam, lparam);
    }
}

// A message-only window of the calling thread that records the probe's messages.
ramclean::window_handle create_probe_window(message_probe& probe) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = probe_window_proc;
    wc.hInstance = instance;
    wc.lpszClassName = "ramclean_bench_probe";
    if (!RegisterClassExA(&wc)) return {};
    ramclean::window_handle window(CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0,
                                                   HWND_MESSAGE, nullptr, instance, nullptr));
    if (window) SetWindowLongPtrA(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&probe));
    probe.window = window.get();
    return window;
}

// Handles, unrecorded, whatever a measurement left in the queue, WM_QUIT included.
void drain_queue() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// Posts a timestamped probe message every 10 ms, on a schedule that does not drift, from a
// thread of its own until stopped.
class message_poster {
public:
    explicit message_poster(message_probe& probe)
        : probe_(probe),
          stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          thread_(CreateThread(nullptr, 0, run, this, 0, nullptr)) {}
    message_poster(const message_poster&) = delete;
    message_poster& operator=(const message_poster&) = delete;
    ~message_poster() { stop(); }

    [[nodiscard]] bool started() const { return stop_ && thread_; }

    // Ends the posting thread; returns the number of messages it posted.
    int stop() {
        if (thread_) {
            SetEvent(stop_.get());
            WaitForSingleObject(thread_.get(), INFINITE);
            thread_.reset();
        }
        return posted_;
    }

private:
    static DWORD WINAPI run(void* self) noexcept {
        static_cast<message_poster*>(self)->post_until_stopped();
        return 0;
    }

    void post_until_stopped() noexcept {
        const long long start = now_ticks();
        for (int seq = 0; seq < max_messages; ++seq) {
            const double due_ms = static_cast<double>(seq) * post_interval_ms;
            const double wait_ms = std::max(0.0, due_ms - ms_between(start, now_ticks()));
            if (WaitForSingleObject(stop_.get(), static_cast<DWORD>(wait_ms + 0.5)) != WAIT_TIMEOUT)
                return;
            probe_.posted_at[seq].store(now_ticks(), std::memory_order_release);
            PostMessageA(probe_.window, probe_message, static_cast<WPARAM>(seq), 0);
            posted_ = seq + 1;
        }
    }

    message_probe& probe_;
    ramclean::handle stop_;
    std::atomic<int> posted_ = 0;
    ramclean::handle thread_;  // last: started once everything it uses exists
};

// The tick count is read after two passes and after every further four, without sleeping.
void busy_poll(int duration_ms) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(duration_ms);
    for (;;) {
        ramclean::pumping_pass();
        ramclean::pumping_pass();
        if (GetTickCount64() > deadline) return;
        ramclean::pumping_pass();
        ramclean::pumping_pass();
    }
}

// What any live window costs: GetMessage sleeps until there is something to handle.
void message_loop_until_timer(message_probe& probe, int duration_ms) {
    SetTimer(probe.window, loop_end_timer, static_cast<UINT>(duration_ms), nullptr);
    while (!probe.time_is_up && ramclean::handle_one_message()) {
    }
    KillTimer(probe.window, loop_end_timer);
}

struct loop_result {
    double wall_ms = 0;
    double cpu_ms = 0;
    int posted = 0;
    int handled = 0;
    double median_ms = 0;
    double p99_ms = 0;

    [[nodiscard]] double share() const { return 100.0 * cpu_ms / wall_ms; }
};

// Nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0.0;
    const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

template <typename Loop>
loop_result measure_loop(const char* name, message_probe& probe, Loop loop) {
    drain_queue();
    probe.handled = 0;
    probe.time_is_up = false;
    loop_result result;
    {
        message_poster poster(probe);
        if (!poster.started()) return result;
        probe.recording = true;
        const stopwatch watch;
        loop();
        result.wall_ms = watch.wall_ms();
        result.cpu_ms = watch.cpu_ms();
        probe.recording = false;
        result.posted = poster.stop();
    }
    drain_queue();
    result.handled = probe.handled;
    std::vector<double> sorted(probe.latency_ms.begin(), probe.latency_ms.begin() + probe.handled);
    std::sort(sorted.begin(), sorted.end());
    result.median_ms = percentile(sorted, 0.50);
    result.p99_ms = percentile(sorted, 0.99);
    std::printf(
        "bench: %-16s wall %.0f ms, processor %.0f ms (%.2f%%), latency median %.2f ms, "
        "99th percentile %.2f ms, %d of %d messages handled\n",
        name, result.wall_ms, result.cpu_ms, result.share(), result.median_ms, result.p99_ms,
        result.handled, result.posted);
    return result;
}

// A loop that left more than a few messages unhandled did not keep its window live.
bool kept_up(const loop_result& r) { return r.posted > 0 && r.handled >= r.posted * 95 / 100; }

bool compare_loops(message_probe& probe) {
    const loop_result wait =
        measure_loop("pumping wait:", probe, [] { ramclean::pumping_wait(loop_ms); });
    const loop_result busy = measure_loop("busy poll:", probe, [] { busy_poll(loop_ms); });
    const loop_result floor = measure_loop("GetMessage loop:", probe,
                                           [&probe] { message_loop_until_timer(probe, loop_ms); });

    const double share_points = wait.share() - floor.share();
    const double latency_ms = wait.median_ms - busy.median_ms;
    const bool share_met = share_points <= goal_share_points;
    const bool latency_met = latency_ms <= goal_latency_ms;
    std::printf(
        "bench: pumping wait vs GetMessage loop: processor %+.2f percentage points (goal: at "
        "most %+.0f): %s\n",
        share_points, goal_share_points, share_met ? "met" : "NOT met");
    std::printf(
        "bench: pumping wait vs busy poll: median latency %+.2f ms (goal: at most %+.0f ms): %s; "
        "processor %+.2f percentage points\n",
        latency_ms, goal_latency_ms, latency_met ? "met" : "NOT met", wait.share() - busy.share());
    std::printf("bench: goal %s\n", share_met && latency_met ? "holds" : "does NOT hold");
    return kept_up(wait) && kept_up(busy) && kept_up(floor);
}

// With WM_QUIT next the wait may handle nothing; it must sleep out its time, not spin.
void measure_wait_with_quit_pending() {
    drain_queue();
    PostQuitMessage(0);
    const stopwatch watch;
    ramclean::pumping_wait(loop_ms);
    const double wall = watch.wall_ms(), cpu = watch.cpu_ms();
    drain_queue();
    std::printf(
        "bench: pumping wait with WM_QUIT pending: wall %.0f ms, processor %.0f ms "
        "(%.2f%%)\n",
        wall, cpu, 100.0 * cpu / wall);
}

std::string program_path(const char* name) {
    return ramclean::executable_folder().value_or(".") + "\\" + name;
}

struct process_usage {
    double main_thread_cpu_ms = 0;
    double peak_working_set_mib = 0;
};

// Reads the usage while the process runs, every 20 ms, and keeps the highest figures: Wine
// answers for an ended process with figures that are not its own, and for any other
// process's times with the caller's. The program does its work on its one thread, so that
// thread's time is its cost. The last reading misses at most the final interval.
process_usage watch_until_exit(HANDLE process, HANDLE main_thread, DWORD timeout_ms) {
    constexpr DWORD interval_ms = 20;
    process_usage highest;
    for (DWORD waited = 0; waited < timeout_ms; waited += interval_ms) {
        if (WaitForSingleObject(process, interval_ms) != WAIT_TIMEOUT) break;
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(process, &memory, sizeof memory);
        highest.peak_working_set_mib =
            std::max(highest.peak_working_set_mib, memory.PeakWorkingSetSize / 1048576.0);
        highest.main_thread_cpu_ms =
            std::max(highest.main_thread_cpu_ms, test_support::processor_ms(main_thread));
    }
    return highest;
}

bool measure_automatic_run() {
    std::string line = "\"" + program_path("ramclean-auto.exe") + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ramclean::process_information info;
    const ULONGLONG started = GetTickCount64();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, info.put()))
        return false;
    const process_usage usage = watch_until_exit(info.process(), info.thread(), 60000);
    const double wall = static_cast<double>(GetTickCount64() - started);
    DWORD code = 0;
    GetExitCodeProcess(info.process(), &code);
    std::printf(
        "bench: ramclean-auto run: exit code %lu, wall %.0f ms, processor (main thread) %.0f ms "
        "(%.2f%%), peak working set %.1f MiB\n",
        code, wall, usage.main_thread_cpu_ms, 100.0 * usage.main_thread_cpu_ms / wall,
        usage.peak_working_set_mib);
    return code == 0;
}

}  // namespace

int main() {
    // The loops run on the thread of a hidden main window, as a cleaning run's wait does.
    ramclean::program_settings settings;
    settings.visible = false;
    if (!ramclean::create_main_window(settings)) return 1;
    message_probe probe;
    const ramclean::window_handle probe_window = create_probe_window(probe);
    if (!probe_window) return 1;
    const bool loops_kept_up = compare_loops(probe);
    measure_wait_with_quit_pending();
    const bool run_succeeded = measure_automatic_run();
    return loops_kept_up && run_succeeded ? 0 : 1;
}
