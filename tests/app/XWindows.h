#pragma once

// Finding and closing top-level windows on an X display, for the helpers of
// the end-to-end test. The display has no window manager, so top-level
// windows are the root's children.

#include <X11/Xlib.h>

#include <string>

namespace sorvanta::testing {

// The window's UTF-8 title, which Qt sets as _NET_WM_NAME.
inline std::string Title(Display* display, Window window) {
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

// A mapped top-level window with that title, or 0.
inline Window FindMapped(Display* display, const std::string& wanted) {
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

// Asks the window to close the way a window manager's close button does (a
// WM_DELETE_WINDOW message), and flushes the request.
inline void AskToClose(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
}

}  // namespace sorvanta::testing
