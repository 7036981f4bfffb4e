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

#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// The window's UTF-8 title, which Qt sets as _NET_WM_NAME.
std::string Title(Display* display, Window window) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, remaining = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024,
                         False, AnyPropertyType, &type, &format, &items, &remaining,
                         &data) == Success &&
      data != nullptr && format == 8) {
    title.assign(reinterpret_cast<const char*>(data), items);
  }
  if (data != nullptr) XFree(data);
  return title;
}

Window FindMapped(Display* display, const std::string& wanted) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  Window found = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
    for (unsigned int i = 0; i < count && found == 0; ++i) {
      XWindowAttributes attributes;
      if (XGetWindowAttributes(display, children[i], &attributes) &&
          attributes.map_state == IsViewable && Title(display, children[i]) == wanted) {
        found = children[i];
      }
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

}  // namespace

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

  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XCloseDisplay(display);  // flushes the request
  return 0;
}
