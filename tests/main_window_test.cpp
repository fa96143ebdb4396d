// The main window as created in this process: layout, styles, controls, events.
#include "main_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace ramclean;
using test_support::window_text;

namespace {

std::vector<std::string> events;
bool visible_during_created = true;
std::string label_text_during_created;

void record_created() {
    events.push_back("created");
    visible_during_created = IsWindowVisible(main_window()) != 0;
    label_text_during_created = window_text(GetDlgItem(main_window(), status_label_id));
    set_status_text("");
}
void record_destroyed() { events.push_back("will-be-destroyed"); }
void record_clean() { events.push_back("clean"); }
void record_exit() { events.push_back("exit"); }

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        events.clear();
        settings.visible = false;
        settings.events = {record_created, record_clean, record_exit, record_destroyed};
    }
    void TearDown() override {
        if (main_window() != nullptr) DestroyWindow(main_window());
        test_support::pump_messages();
    }
    program_settings settings;
};

RECT child_rect(HWND parent, int id) {
    RECT rect{};
    HWND child = GetDlgItem(parent, id);
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

TEST_F(MainWindowTest, HasTheSizePositionTitleAndStylesOfTheDesign) {
    ASSERT_TRUE(create_main_window(settings));
    HWND hwnd = main_window();
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    EXPECT_EQ(rect.right - rect.left, 289);
    EXPECT_EQ(rect.bottom - rect.top, 126);
    EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - 289) / 2);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - 126) / 2);

    EXPECT_EQ(window_text(hwnd), test_support::main_window_title);  // byte for byte

    const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    for (LONG bit : {LONG{WS_CAPTION}, WS_SYSMENU, WS_MINIMIZEBOX, WS_CLIPCHILDREN})
        EXPECT_EQ(style & bit, bit) << std::hex << bit;
    for (LONG bit : {LONG{WS_MAXIMIZEBOX}, LONG{WS_THICKFRAME}, LONG{WS_VISIBLE}, LONG{WS_CHILD},
                     static_cast<LONG>(WS_POPUP)})
        EXPECT_EQ(style & bit, 0) << std::hex << bit;
    EXPECT_EQ(GetWindowLongA(hwnd, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), 0);
    EXPECT_EQ(GetWindow(hwnd, GW_OWNER), nullptr);
    EXPECT_EQ(GetMenu(hwnd), nullptr);
    EXPECT_NE(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0), 0);
}

TEST_F(MainWindowTest, HasThreeControlsWithTheirIdsTextsRectanglesAndOrder) {
    ASSERT_TRUE(create_main_window(settings));
    HWND hwnd = main_window();
    struct expected_control {
        int id;
        const char* window_class;
        std::string text;
        RECT rect;
        bool tab_stop;
    };
    const expected_control table[] = {
        {100, "Button", "\xC7\xE5\xC0\xED\xC4\xDA\xB4\xE6", {32, 24, 112, 56}, true},  // 清理内存
        {110, "Button", "\xCD\xCB\xB3\xF6\xB3\xCC\xD0\xF2", {160, 24, 240, 56}, true},  // 退出程序
        {120, "RamCleanStatusLabel", "", {0, 64, 280, 88}, false},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.id);
        HWND control = GetDlgItem(hwnd, c.id);
        ASSERT_NE(control, nullptr);
        char class_name[64] = {};
        GetClassNameA(control, class_name, sizeof class_name);
        EXPECT_STREQ(class_name, c.window_class);
        EXPECT_EQ(window_text(control), c.text);
        const RECT r = child_rect(hwnd, c.id);
        EXPECT_EQ(r.left, c.rect.left);
        EXPECT_EQ(r.top, c.rect.top);
        EXPECT_EQ(r.right, c.rect.right);
        EXPECT_EQ(r.bottom, c.rect.bottom);
        const LONG style = GetWindowLongA(control, GWL_STYLE);
        EXPECT_TRUE(style & WS_VISIBLE);
        EXPECT_TRUE(style & WS_CHILD);
        EXPECT_TRUE(style & WS_CLIPSIBLINGS);
        EXPECT_EQ((style & WS_TABSTOP) != 0, c.tab_stop);
        EXPECT_FALSE(style & WS_DISABLED);
        EXPECT_EQ(GetWindowLongA(control, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0);
        if (c.tab_stop) {
            EXPECT_EQ(style & 0x0F, BS_PUSHBUTTON);  // not a default push button
            EXPECT_EQ(style & (BS_CENTER | BS_VCENTER | BS_MULTILINE),
                      BS_CENTER | BS_VCENTER | BS_MULTILINE);
            EXPECT_EQ(SendMessageA(control, WM_GETFONT, 0, 0),
                      reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT)));
        }
    }
    // Z-order, top first: label, Exit, Clean.
    HWND first = GetWindow(hwnd, GW_CHILD);
    EXPECT_EQ(GetDlgCtrlID(first), 120);
    EXPECT_EQ(GetDlgCtrlID(GetWindow(first, GW_HWNDNEXT)), 110);
    EXPECT_EQ(GetDlgCtrlID(GetWindow(GetWindow(first, GW_HWNDNEXT), GW_HWNDNEXT)), 100);
    EXPECT_EQ(GetWindow(GetWindow(GetWindow(first, GW_HWNDNEXT), GW_HWNDNEXT), GW_HWNDNEXT),
              nullptr);
}

TEST_F(MainWindowTest, CreatedEventComesFirstWhileHiddenAndSeesTheCreationText) {
    settings.visible = true;
    ASSERT_TRUE(create_main_window(settings));
    EXPECT_FALSE(visible_during_created);
    EXPECT_EQ(label_text_during_created, "11111111111");
    EXPECT_TRUE(IsWindowVisible(main_window()));
    EXPECT_EQ(window_text(GetDlgItem(main_window(), status_label_id)), "");
    EXPECT_EQ(events, std::vector<std::string>{"created"});
    EXPECT_EQ(GetFocus(), GetDlgItem(main_window(), clean_button_id));
}

TEST_F(MainWindowTest, HiddenSettingNeverShowsTheWindow) {
    ASSERT_TRUE(create_main_window(settings));
    test_support::pump_messages();
    EXPECT_FALSE(IsWindowVisible(main_window()));
}

TEST_F(MainWindowTest, ButtonClicksRaiseTheirEventsAndDestroyRaisesWillBeDestroyedOnce) {
    ASSERT_TRUE(create_main_window(settings));
    HWND hwnd = main_window();
    SendMessageA(GetDlgItem(hwnd, clean_button_id), BM_CLICK, 0, 0);
    SendMessageA(GetDlgItem(hwnd, exit_button_id), BM_CLICK, 0, 0);
    destroy_request();
    destroy_request();
    EXPECT_TRUE(IsWindow(hwnd)) << "a destroy request only posts";
    test_support::pump_messages();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(main_window(), nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"created", "clean", "exit", "will-be-destroyed"}));
}

TEST_F(MainWindowTest, StrayDestroyRequestMessageWithoutARequestIsIgnored) {
    ASSERT_TRUE(create_main_window(settings));
    PostMessageA(main_window(), destroy_request_message, 0, 0);
    test_support::pump_messages();
    EXPECT_NE(main_window(), nullptr);
}

TEST_F(MainWindowTest, SetStatusTextAfterTheWindowIsGoneDoesNothing) {
    ASSERT_TRUE(create_main_window(settings));
    HWND label = GetDlgItem(main_window(), status_label_id);
    ASSERT_NE(label, nullptr);
    DestroyWindow(main_window());
    test_support::pump_messages();  // what the destruction itself left queued

    set_status_text("late");  // must not touch a destroyed window
    destroy_request();
    EXPECT_EQ(main_window(), nullptr);
    EXPECT_FALSE(IsWindow(label));
    // Neither call may leave anything for the thread: no request posted to a stale or null
    // window, no paint of a window that is gone.
    std::vector<UINT> queued;
    for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) queued.push_back(msg.message);
    EXPECT_EQ(queued, std::vector<UINT>{});
}

namespace {

// Delivers a key press to the focused control through the main loop's one-message handling.
void press(WPARAM key, bool shift = false) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    HWND target = GetFocus();
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT)
        handle_one_message();
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

}  // namespace

TEST_F(MainWindowTest, TabAndShiftTabMoveTheFocusBetweenTheButtonsAndWrap) {
    settings.visible = true;
    ASSERT_TRUE(create_main_window(settings));
    HWND clean = GetDlgItem(main_window(), clean_button_id);
    HWND exit = GetDlgItem(main_window(), exit_button_id);
    ASSERT_EQ(GetFocus(), clean);
    const struct {
        bool shift;
        HWND expected;
    } steps[] = {{false, exit}, {false, clean}, {true, exit}, {true, clean}};
    for (const auto& step : steps) {
        press(VK_TAB, step.shift);
        EXPECT_EQ(GetFocus(), step.expected) << (step.shift ? "Shift+Tab" : "Tab");
    }
    EXPECT_EQ(events, std::vector<std::string>{"created"});
}

TEST_F(MainWindowTest, EnterEscF1AndArrowsDoNothing) {
    settings.visible = true;
    ASSERT_TRUE(create_main_window(settings));
    HWND clean = GetDlgItem(main_window(), clean_button_id);
    for (WPARAM key : {VK_RETURN, VK_ESCAPE, VK_F1, VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN}) {
        press(key);
        EXPECT_EQ(GetFocus(), clean) << key;
    }
    EXPECT_NE(main_window(), nullptr);
    EXPECT_EQ(events, std::vector<std::string>{"created"});
}

TEST_F(MainWindowTest, SpaceClicksTheFocusedButton) {
    settings.visible = true;
    ASSERT_TRUE(create_main_window(settings));
    press(VK_SPACE);
    press(VK_TAB);
    press(VK_SPACE);
    EXPECT_EQ(events, (std::vector<std::string>{"created", "clean", "exit"}));
}

TEST_F(MainWindowTest, FocusReturnsToTheLastFocusedButtonOnReactivation) {
    settings.visible = true;
    ASSERT_TRUE(create_main_window(settings));
    press(VK_TAB);
    HWND exit = GetDlgItem(main_window(), exit_button_id);
    ASSERT_EQ(GetFocus(), exit);
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 50, 50,
                                 nullptr, nullptr, nullptr, nullptr);
    SetActiveWindow(other);
    test_support::pump_messages();
    SetActiveWindow(main_window());
    test_support::pump_messages();
    EXPECT_EQ(GetFocus(), exit);
    DestroyWindow(other);
}
