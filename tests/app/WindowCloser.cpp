// Test helper for the end-to-end test: waits on the X display for a mapped
// top-level window with the given title, then asks it to close the way a
// window manager's close button does (a WM_DELETE_WINDOW message).
//
//   window_closer TITLE SECONDS
//
// Exit code 0 when the window was found and asked to close, 1 when it did
// not appear in time, 2 when the display cannot be opened.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

std::string Title(Display* display, Window window) {
  // _NET_WM_NAME carries the UTF-8 title; WM_NAME may be a lossy fallback.
  const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, remaining = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &items,
                         &remaining, &data) == Success &&
      data != nullptr) {
    title.assign(reinterpret_cast<const char*>(data), items);
  }
  if (data != nullptr) XFree(data);
  if (title.empty()) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name != nullptr) title = name;
    if (name != nullptr) XFree(name);
  }
  return title;
}

// Searches the whole window tree, so that it works with or without a
// window manager's frames around the top-level windows.
Window Find(Display* display, Window parent, const std::string& wanted) {
  Window root = 0, up = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, parent, &root, &up, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && found == 0; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, children[i], &attributes) &&
        attributes.map_state == IsViewable && Title(display, children[i]) == wanted) {
      found = children[i];
    } else {
      found = Find(display, children[i], wanted);
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

  const std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  if (!display) {
    std::fprintf(stderr, "window_closer: cannot open the display\n");
    return 2;
  }
  Window window = 0;
  while ((window = Find(display.get(), DefaultRootWindow(display.get()), title)) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      std::fprintf(stderr, "window_closer: no window \"%s\"\n", title.c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::printf("window_closer: found \"%s\"\n", title.c_str());

  XEvent event;
  std::memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display.get(), window, False, NoEventMask, &event);
  XFlush(display.get());
  return 0;
}
