// Test helper for the end-to-end test: uses the main window on an X display
// the way a user with a file manager, a mouse and a keyboard does, then
// closes it.
//
//   window_driver TITLE SECONDS FILE OUTPUT
//
// 1. Waits for the mapped top-level window TITLE and gives it the focus.
// 2. Drags FILE onto the result list with the XDND protocol, as a file
//    manager does (text/uri-list), and drops it there.
// 3. Clicks 搜符号, which lists every function of an open file, clicks the
//    list, presses Ctrl+A and Ctrl+C (through the XTest extension), and
//    writes what the clipboard then holds (UTF-8) to OUTPUT.
// 4. Asks the window to close.
//
// The button's place comes from the window's layout: the query row is
// centred, the search button ends 935 pixels after its start. Exit code 0
// when every step worked, 1 when one failed (said on stderr), 2 on bad usage
// or when there is no display.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "XWindows.h"

namespace {

using Clock = std::chrono::steady_clock;
using sorvanta::testing::AskToClose;
using sorvanta::testing::FindMapped;

void Pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

class Driver {
 public:
  Driver(Display* display, Window target) : display(display), target(target) {
    own = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, own, PropertyChangeMask);
  }
  ~Driver() { XDestroyWindow(display, own); }

  // Where client point (x, y) of the target lies on the root window.
  void ToRoot(int x, int y, int& rootX, int& rootY) {
    Window child = 0;
    XTranslateCoordinates(display, target, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
  }

  int Width() {
    XWindowAttributes attributes;
    XGetWindowAttributes(display, target, &attributes);
    return attributes.width;
  }
  int Height() {
    XWindowAttributes attributes;
    XGetWindowAttributes(display, target, &attributes);
    return attributes.height;
  }

  void Focus() {
    XSetInputFocus(display, target, RevertToParent, CurrentTime);
    XSync(display, False);
  }

  void Click(int x, int y) {
    int rootX = 0, rootY = 0;
    ToRoot(x, y, rootX, rootY);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XSync(display, False);
    Pause(100);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
  }

  // Ctrl and a key, as typed.
  void ControlKey(KeySym key) {
    const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    const KeyCode code = XKeysymToKeycode(display, key);
    XTestFakeKeyEvent(display, control, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XTestFakeKeyEvent(display, control, False, CurrentTime);
    XSync(display, False);
  }

  // Drags uri (one text/uri-list line) to client point (x, y) and drops it.
  bool DropUri(const std::string& uri, int x, int y) {
    const Atom uriList = Intern("text/uri-list");
    const Atom selection = Intern("XdndSelection");
    if (!Aware()) return Fail("the window takes no drops (no XdndAware)");
    XSetSelectionOwner(display, selection, own, CurrentTime);
    if (XGetSelectionOwner(display, selection) != own) return Fail("cannot own XdndSelection");
    int rootX = 0, rootY = 0;
    ToRoot(x, y, rootX, rootY);

    long enter[5] = {static_cast<long>(own), 5L << 24, static_cast<long>(uriList), 0, 0};
    Send("XdndEnter", enter);
    long position[5] = {static_cast<long>(own), 0, (static_cast<long>(rootX) << 16) | rootY,
                        CurrentTime, static_cast<long>(Intern("XdndActionCopy"))};
    Send("XdndPosition", position);

    bool accepted = false;
    if (!Await("XdndStatus", [&](const XClientMessageEvent& status) {
          accepted = (status.data.l[1] & 1) != 0;
        }, uri)) {
      return Fail("no XdndStatus");
    }
    if (!accepted) return Fail("the window refused the drag");
    long drop[5] = {static_cast<long>(own), 0, CurrentTime, 0, 0};
    Send("XdndDrop", drop);
    bool done = false;
    if (!Await("XdndFinished", [&](const XClientMessageEvent& finished) {
          done = (finished.data.l[1] & 1) != 0;
        }, uri)) {
      return Fail("no XdndFinished");
    }
    if (!done) return Fail("the drop was not taken");
    return true;
  }

  // The CLIPBOARD as UTF-8 text; "" when there is none.
  std::string Clipboard() {
    const Atom property = Intern("SORVANTA_DRIVER_CLIPBOARD");
    XConvertSelection(display, Intern("CLIPBOARD"), Intern("UTF8_STRING"), property, own, CurrentTime);
    XSync(display, False);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      XEvent event;
      if (!XCheckTypedWindowEvent(display, own, SelectionNotify, &event)) {
        Pause(20);
        continue;
      }
      if (event.xselection.property == None) return {};
      Atom type = None;
      int format = 0;
      unsigned long items = 0, remaining = 0;
      unsigned char* data = nullptr;
      std::string text;
      if (XGetWindowProperty(display, own, property, 0, 1 << 24, True, AnyPropertyType, &type, &format,
                             &items, &remaining, &data) == Success &&
          data != nullptr && format == 8) {
        text.assign(reinterpret_cast<const char*>(data), items);
      }
      if (data != nullptr) XFree(data);
      return text;
    }
    return {};
  }

 private:
  Atom Intern(const char* name) { return XInternAtom(display, name, False); }

  bool Fail(const char* what) {
    std::fprintf(stderr, "window_driver: %s\n", what);
    return false;
  }

  bool Aware() {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, remaining = 0;
    unsigned char* data = nullptr;
    const bool aware = XGetWindowProperty(display, target, Intern("XdndAware"), 0, 1, False,
                                          AnyPropertyType, &type, &format, &items, &remaining,
                                          &data) == Success &&
                       items > 0;
    if (data != nullptr) XFree(data);
    return aware;
  }

  void Send(const char* type, const long (&data)[5]) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = Intern(type);
    event.xclient.format = 32;
    for (int i = 0; i < 5; ++i) event.xclient.data.l[i] = data[i];
    XSendEvent(display, target, False, NoEventMask, &event);
    XSync(display, False);
  }

  // Waits for the client message `type` to this helper's window, answering
  // the target's requests for the dragged data meanwhile.
  bool Await(const char* type, const std::function<void(const XClientMessageEvent&)>& take,
             const std::string& uri) {
    const Atom wanted = Intern(type);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      if (XPending(display) == 0) {
        Pause(10);
        continue;
      }
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == SelectionRequest) {
        Answer(event.xselectionrequest, uri);
      } else if (event.type == ClientMessage && event.xclient.message_type == wanted) {
        take(event.xclient);
        return true;
      }
    }
    return false;
  }

  void Answer(const XSelectionRequestEvent& request, const std::string& uri) {
    const Atom uriList = Intern("text/uri-list");
    const Atom targets = Intern("TARGETS");
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.time = request.time;
    reply.xselection.property = request.property != None ? request.property : request.target;
    if (request.target == uriList) {
      const std::string line = uri + "\r\n";
      XChangeProperty(display, request.requestor, reply.xselection.property, uriList, 8,
                      PropModeReplace, reinterpret_cast<const unsigned char*>(line.data()),
                      static_cast<int>(line.size()));
    } else if (request.target == targets) {
      const Atom offered[2] = {targets, uriList};
      XChangeProperty(display, request.requestor, reply.xselection.property, XA_ATOM, 32,
                      PropModeReplace, reinterpret_cast<const unsigned char*>(offered), 2);
    } else {
      reply.xselection.property = None;
    }
    XSendEvent(display, request.requestor, False, NoEventMask, &reply);
    XSync(display, False);
  }

  Display* display;
  Window target;
  Window own = 0;
};

// file:// URI of an absolute path, with everything but unreserved
// characters and '/' percent-encoded.
std::string FileUri(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  return uri;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s TITLE SECONDS FILE OUTPUT\n", argv[0]);
    return 2;
  }
  const std::string title = argv[1];
  const auto deadline = Clock::now() + std::chrono::seconds(std::atoi(argv[2]));
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "window_driver: cannot open the display\n");
    return 2;
  }
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
    std::fprintf(stderr, "window_driver: the display has no XTest extension\n");
    XCloseDisplay(display);
    return 2;
  }
  Window window = 0;
  while ((window = FindMapped(display, title)) == 0 && Clock::now() < deadline) Pause(100);
  if (window == 0) {
    std::fprintf(stderr, "window_driver: no window \"%s\"\n", title.c_str());
    XCloseDisplay(display);
    return 1;
  }
  std::printf("window_driver: found \"%s\"\n", title.c_str());
  Pause(300);  // let the program finish showing the window

  int status = 0;
  {
    Driver driver(display, window);
    driver.Focus();
    const int w = driver.Width();
    const int h = driver.Height();
    // On the result list, below its header.
    if (!driver.DropUri(FileUri(argv[3]), w / 2, 90 + (h - 90) / 2)) status = 1;
    Pause(500);  // the open runs once the drop has ended

    // 搜符号 with an empty symbol box lists every function; then the rows
    // are selected and copied. Repeated until rows of functions (tab
    // separated) come back, so a slow machine gets more time; a file that
    // did not open gives the message row every time.
    const int g = (w - 935) / 2;
    std::string copied;
    for (int attempt = 0; attempt < 20 && copied.find('\t') == std::string::npos; ++attempt) {
      driver.Click(g + 885, 47);
      Pause(200 + 100 * attempt);
      driver.Click(w / 2, 90 + (h - 90) / 2);
      driver.Focus();
      driver.ControlKey(XK_a);
      driver.ControlKey(XK_c);
      Pause(200);
      copied = driver.Clipboard();
    }
    std::ofstream(argv[4], std::ios::binary) << copied;
    if (copied.empty()) {
      std::fprintf(stderr, "window_driver: nothing on the clipboard\n");
      status = 1;
    }
  }
  AskToClose(display, window);
  XCloseDisplay(display);
  return status;
}
