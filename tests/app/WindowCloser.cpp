// Test helper for the end-to-end test: waits on the X display for a mapped
// top-level window with the given title, then asks it to close the way a
// window manager's close button does (a WM_DELETE_WINDOW message). The
// display has no window manager, so top-level windows are the root's
// children.
//
//   window_closer TITLE SECONDS
//
// Exit code 0 when the window was found and asked to close, 1 when it did
// not appear in time, 2 on bad usage or when there is no display.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "XWindows.h"

using sorvanta::testing::AskToClose;
using sorvanta::testing::FindMapped;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TITLE SECONDS\n", argv[0]);
    return 2;
  }
  const std::string title = argv[1];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "window_closer: cannot open the display\n");
    return 2;
  }
  Window window = 0;
  while ((window = FindMapped(display, title)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (window == 0) {
    std::fprintf(stderr, "window_closer: no window \"%s\"\n", title.c_str());
    XCloseDisplay(display);
    return 1;
  }
  std::printf("window_closer: found \"%s\"\n", title.c_str());

  AskToClose(display, window);
  XCloseDisplay(display);
  return 0;
}
