// The status label painted into a memory DC, as WM_PRINTCLIENT renders it.
#include "status_label.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "handles.h"
#include "main_window.h"
#include "test_support.h"

using namespace ramclean;

namespace {

constexpr int label_width = 280, label_height = 24;

// A 32-bit top-down DIB the label paints into, with its pixels readable.
struct canvas {
    canvas() {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = label_width;
        info.bmiHeader.biHeight = -label_height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dc.reset(CreateCompatibleDC(nullptr));
        bitmap.reset(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS,
                                      reinterpret_cast<void**>(&pixels), nullptr, 0));
        selection.emplace(dc.get(), bitmap.get());
    }
    COLORREF at(int x, int y) const {
        const DWORD bgr = pixels[y * label_width + x];
        return RGB(GetBValue(bgr), GetGValue(bgr), GetRValue(bgr));
    }
    // Declared in the order they are made: the bitmap is deselected before it and the DC go.
    memory_dc dc;
    gdi_object bitmap;
    std::optional<selected_object> selection;
    DWORD* pixels = nullptr;
};

// Bounding box of the pixels that differ from the button face.
struct ink {
    int left = label_width, top = label_height, right = -1, bottom = -1, dark = 0;
};

class StatusLabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        ASSERT_TRUE(register_status_label_class(instance));
        parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 100, nullptr, nullptr,
                                 instance, nullptr);
        label = create_status_label(parent, instance, "", 0, 0, label_width, label_height, 120);
        ASSERT_NE(label, nullptr);
    }
    void TearDown() override { DestroyWindow(parent); }

    ink render(const std::string& text) {
        SetWindowTextA(label, text.c_str());
        SendMessageA(label, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(picture.dc.get()), PRF_CLIENT);
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        ink found;
        for (int y = 0; y < label_height; ++y)
            for (int x = 0; x < label_width; ++x) {
                const COLORREF c = picture.at(x, y);
                if (c == face) continue;
                found.left = std::min(found.left, x);
                found.right = std::max(found.right, x);
                found.top = std::min(found.top, y);
                found.bottom = std::max(found.bottom, y);
                if (GetRValue(c) < 64 && GetGValue(c) < 64 && GetBValue(c) < 64) ++found.dark;
            }
        return found;
    }

    HWND parent = nullptr;
    HWND label = nullptr;
    canvas picture;
};

}  // namespace

TEST_F(StatusLabelTest, EmptyTextPaintsOnlyTheButtonFace) {
    memset(picture.pixels, 0, label_width * label_height * 4);  // black: must be covered
    const ink found = render("");
    EXPECT_EQ(found.right, -1) << "something other than the button face at " << found.left << ","
                               << found.top;
}

TEST_F(StatusLabelTest, TextIsBlackCentredAtTheTopOnOneLine) {
    const ink found = render(test_support::running_text);
    ASSERT_GT(found.dark, 20) << "no black text";
    EXPECT_LE(found.top, 4) << "text starts at the top";
    EXPECT_LE(found.bottom, 18) << "one line of 14-pixel text";
    EXPECT_GT(found.left, 60) << "a short text does not reach the edges";
    // Centring, seen on a text whose ink is symmetric (the full stops above are not).
    const ink symmetric = render("HHHH");
    EXPECT_NEAR((symmetric.left + symmetric.right) / 2.0, (label_width - 1) / 2.0, 1.5);
}

TEST_F(StatusLabelTest, LongTextStaysOnOneLineAndIsClippedAtBothEdges) {
    const std::string wide(80, 'W');
    const ink found = render(wide);
    EXPECT_EQ(found.left, 0);
    EXPECT_EQ(found.right, label_width - 1);
    EXPECT_LE(found.bottom, 18) << "no second line";
}

TEST_F(StatusLabelTest, AmpersandIsDrawnNotTakenAsAPrefix) {
    // With prefix processing "&&" would draw as a single "&".
    const ink one = render("&");
    const ink two = render("&&");
    EXPECT_GT(two.right - two.left, one.right - one.left);
}

TEST_F(StatusLabelTest, PaintingLeavesNoGdiObjectBehind) {
    // Wine has no GetGuiResources; the free slots of the GDI handle table tell instead.
    render(test_support::running_text);  // let GDI build its caches first
    const int before = test_support::free_gdi_slots();
    for (int i = 0; i < 1000; ++i) render(test_support::running_text);
    EXPECT_EQ(test_support::free_gdi_slots(), before);
}
