// A test fixture that owns a private Xvfb and one run of the real viewer on it.
#pragma once

#include <gtest/gtest.h>

#include "test_files.h"
#include "x_harness.h"

class RealViewer : public testing::Test {
protected:
    void SetUp() override
    {
        server = start_xvfb();
        ASSERT_GT(server.pid, 0) << server.failure;
        display = XOpenDisplay(server.display_name.c_str());
        ASSERT_NE(display, nullptr) << "cannot connect to Xvfb on " << server.display_name;
    }

    void TearDown() override
    {
        stop_process(run.pid);
        for (const std::string& path : {run.out_path, run.err_path})
            if (!path.empty())
                unlink(path.c_str());
        if (display)
            XCloseDisplay(display);
        stop_process(server.pid);
    }

    // Types the name at the prompt and waits for the window and its first whole frame.
    void open_viewer(const std::string& typed_name)
    {
        run = launch_viewer(server.display_name, typed_name + "\n");
        window = find_window(display, "Olvanta", 20000);
        ASSERT_NE(window, 0u) << "no window; standard error:\n" << read_whole_file(run.err_path);
        Window child;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &window_x,
                              &window_y, &child);
        first = wait_for_first_frame(display, window, background);
        ASSERT_GT(first.width, 0) << "no frame drawn";
    }

    // The picture after an action that must change it.
    Image next_frame(const Image& before) { return settled_picture(display, window, &before); }

    int root_x(int window_pixel_x) const { return window_x + window_pixel_x; }
    int root_y(int window_pixel_y) const { return window_y + window_pixel_y; }

    XServer server;
    Display* display = nullptr;
    ViewerRun run;
    Window window = 0;
    int window_x = 0, window_y = 0;
    Image first;
};

// The real viewer showing a torus, ready for menu choices and drags.
class ViewerOnTorus : public RealViewer {
protected:
    void SetUp() override
    {
        RealViewer::SetUp();
        if (HasFatalFailure())
            return;
        mesh = make_torus_file(1.0, 0.35, 24, 12);
        open_viewer(mesh);
    }

    void TearDown() override
    {
        unlink(mesh.c_str());
        RealViewer::TearDown();
    }

    // Opens the popup menu inside the window and chooses main entry, then sub-entry.
    void choose(int main_index, int sub_index)
    {
        ASSERT_TRUE(choose_menu_entry(display, root_x(60), root_y(60), main_index, sub_index))
            << "the popup menu did not open";
    }

    std::string mesh;
};
