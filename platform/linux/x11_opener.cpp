// XOpenDisplay has no time limit: a server that is stopped or frozen, or a
// socket that accepts and never replies, holds it for as long as that lasts.
// So the main thread never calls it. An attempt runs on a thread of its own,
// opens the connection and asks for the extensions, and leaves its result
// for the main thread, which takes it from there at its next trust check,
// which is what reports the connection, so no key is heard before trust says
// the connection is up. One attempt at a time: a stuck one is waited out,
// never joined by another, and ends with the server's answer or its socket.
#include "platform/linux/x11_opener.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <glib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// How long a caller waits for the attempt it has just started. The first
// trust check is one, and the parent's first trust line waits for it: a
// server that answers should make that line true, not false and then true
// a poll later. A desktop's server answers within a few milliseconds, 35 ms
// at most with both cores of the test machine oversubscribed; an Xvfb
// resetting as its last client leaves, or a sanitized build under that
// load, took 0.1 to 0.3 s, rarely 0.6 s. A server that does not answer
// holds back the first trust line by this wait, and with it the first
// focus answer: half a second keeps that answer within about 1.5 s even
// when the query then spends its whole second.
constexpr std::chrono::milliseconds startedAttemptWait{500};

// What an attempt found. Written by its thread until it is handed over,
// read by the main thread after.
struct Attempt {
  Display* display = nullptr;
  bool lost = false;  // set by Xlib's I/O error exit handler
  int xinputOpcode = 0;
  int xkbEventType = 0;
};

// Handed over under the lock, which orders all the attempt's thread did
// (in Xlib too) before what the main thread does with it. The standard
// library's rather than GLib's: GLib's locks are futexes that the thread
// sanitizer cannot see, so it would take the handover for a race.
std::mutex handoverLock;
std::condition_variable handedOver;
Attempt* finishedAttempt = nullptr;

bool attemptUnderway = false;  // main thread only
bool handlersSet = false;

int ignoreProtocolError(Display*, XErrorEvent*) { return 0; }
// Xlib's own handlers print to stderr and exit; the helper does neither.
int ignoreIoError(Display*) { return 0; }
void noteLost(Display*, void* lost) { *static_cast<bool*>(lost) = true; }

bool hasNeededExtensions(Display* candidate, Attempt& attempt) {
  int event = 0, error = 0;
  int major = 2, minor = 2;
  if (!XQueryExtension(candidate, "XInputExtension", &attempt.xinputOpcode, &event, &error)) return false;
  if (XIQueryVersion(candidate, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) return false;
  int xkbOpcode = 0, xkbError = 0;
  int xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
  return XkbQueryExtension(candidate, &xkbOpcode, &attempt.xkbEventType, &xkbError, &xkbMajor, &xkbMinor);
}

gpointer runAttempt(gpointer data) {
  auto* attempt = static_cast<Attempt*>(data);
  Display* opened = XOpenDisplay(nullptr);
  if (opened != nullptr) {
    XSetIOErrorExitHandler(opened, noteLost, &attempt->lost);
    if (!hasNeededExtensions(opened, *attempt) || attempt->lost) {
      XCloseDisplay(opened);
      opened = nullptr;
    }
  }
  attempt->display = opened;
  const std::lock_guard<std::mutex> hold(handoverLock);
  finishedAttempt = attempt;
  handedOver.notify_one();
  return nullptr;
}

bool startAttempt() {
  if (!handlersSet) {
    // Process-wide, so set once, before any attempt's thread can meet an error.
    XSetErrorHandler(ignoreProtocolError);
    XSetIOErrorHandler(ignoreIoError);
    handlersSet = true;
  }
  auto* attempt = new Attempt;
  GThread* thread = g_thread_try_new("x11-open", runAttempt, attempt, nullptr);
  if (thread == nullptr) {  // no thread to be had now: a later check tries again
    delete attempt;
    return false;
  }
  g_thread_unref(thread);
  attemptUnderway = true;
  return true;
}

// The one attempt's result, waiting up to wait for it.
Attempt* takeFinishedAttempt(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> hold(handoverLock);
  handedOver.wait_for(hold, wait, [] { return finishedAttempt != nullptr; });
  Attempt* attempt = finishedAttempt;
  finishedAttempt = nullptr;
  return attempt;
}

}  // namespace

bool takeOpenedDisplay(bool* lost, Display** display, int* xinputOpcode, int* xkbEventType) {
  Attempt* attempt = nullptr;
  if (attemptUnderway) {
    attempt = takeFinishedAttempt(std::chrono::milliseconds::zero());
  } else if (startAttempt()) {
    attempt = takeFinishedAttempt(startedAttemptWait);
  }
  if (attempt == nullptr) return false;
  attemptUnderway = false;
  const bool opened = attempt->display != nullptr;
  if (opened) {
    // The attempt's flag goes with it.
    XSetIOErrorExitHandler(attempt->display, noteLost, lost);
    *display = attempt->display;
    *xinputOpcode = attempt->xinputOpcode;
    *xkbEventType = attempt->xkbEventType;
  }
  delete attempt;
  return opened;
}
