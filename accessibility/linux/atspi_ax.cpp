// The focus queries on AT-SPI, answered as macOS would answer them for the
// equivalent widget (docs/linux-backends.md has the table). They run in
// ortel-atspi, the helper's accessibility process (atspi_main.cpp), never in
// the helper itself: libatspi cannot start a second time in one process, so
// a lost bus is only recovered by a new process, and a call it makes without
// a timeout can only be cut short by ending the process that made it.
//
// One thread. libatspi ties its buses to GLib's global default context; the
// process's main loop runs that context between requests, so whatever the
// bus sends is read as it comes instead of piling up.
//
// An AxRef here is one of three things: the system-wide marker, an
// AtspiAccessible, or a plain GObject that carries a string value. All but
// the marker are released with g_object_unref.
#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <glib-object.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "accessibility/linux/atspi_queries.h"

namespace {

// No single call waits longer than a call timeout, an application that
// failed is not asked again within the query, and nothing is asked past the
// query's deadline, which the helper sets.
constexpr gint callTimeoutMs = 400;

// An application that let a call time out is passed over until it answers
// the ping sent to it then (a stopped application does once it runs again;
// one that has gone away is answered for by its bus), and in any case
// retried after this long, one such application per query.
constexpr gint64 retryUnansweringUs = 30'000'000;
// Stale entries are those of applications that went away unanswered; the
// oldest make room.
constexpr std::size_t maxUnanswering = 64;

char systemWideMarker;
AxObject* const systemWideElement = reinterpret_cast<AxObject*>(&systemWideMarker);

bool atspiTried = false;
bool atspiReady = false;
DBusConnection* accessibilityBus = nullptr;  // libatspi's, once started
gint64 queryDeadlineUs = 0;
bool queryFailed = false;    // an application failed to answer during this query
bool callTimedOut = false;   // ... and it was a call that ran out its time
gint64 callStartedUs = 0;    // the last call's start and the time it had
gint64 callAllowedUs = 0;
bool retriedThisQuery = false;

// Bus name -> when the application last let a call time out.
std::map<std::string, gint64> unanswering;

// libatspi keeps an object for every application it has met, for the life
// of the process, with more of it while it is not told the application has
// gone. Counted here so that the process can end before that adds up.
std::unordered_set<AtspiApplication*> applicationsMet;

// Every call below is a round trip to the application, and a query is bound
// by how many it makes. The classifier asks for the role twice and the state
// set up to twice about the same element, so one query keeps the first
// answers; the next query asks again, since roles and states change.
AtspiAccessible* describedElement = nullptr;  // referenced while remembered
bool describedRoleKnown = false;
AtspiRole describedRole = ATSPI_ROLE_INVALID;
AtspiStateSet* describedStates = nullptr;

// The window the last query found the focus in. While it is still ACTIVE
// and holds a focused element, that is the answer the full search would
// give too (it stops at the first ACTIVE window with a focused element),
// unless another application holds an ACTIVE window as well, which only
// happens for the moment the focus passes from one to the other: then
// either answer is a guess. Checking it costs one round trip and spares
// the four of walking the desktop to it.
AtspiAccessible* lastWindow = nullptr;

GQuark stringQuark() { return g_quark_from_static_string("ortel-string-value"); }

// Initialised on the first query. Without a session bus or an accessibility
// bus atspi_init fails and leaves its bus NULL; any call after that would
// make libdbus abort the process, so a failed start is final for this
// process (the helper starts another later).
//
// Without a session bus to find, libdbus would "autolaunch" one through X11:
// a daemon that outlives the helper and files in the user's home. A session
// that has a bus names it in the environment or at the runtime directory's
// standard place, the two places libdbus looks before it autolaunches.
bool sessionBusExists() {
  const gchar* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return true;
  const gchar* runtimeDirectory = g_getenv("XDG_RUNTIME_DIR");
  if (runtimeDirectory == nullptr || *runtimeDirectory == '\0') return false;
  gchar* socketPath = g_build_filename(runtimeDirectory, "bus", nullptr);
  const bool exists = g_file_test(socketPath, G_FILE_TEST_EXISTS);
  g_free(socketPath);
  return exists;
}

// atspi_init asks the bus for every application's state, property and
// children changes, which busy applications send by the thousand a second
// whether anyone listens or not; libatspi wants them only for a cache it
// keeps while running its own event loop, which the helper never does. Left
// in place, the bus queues them for this process, and the bus grows while
// nobody reads. Only NameOwnerChanged stays: it is rare, and it lets
// libatspi release an application that has gone.
constexpr std::array<const char*, 5> unwantedSignals = {
    "type='signal',interface='org.a11y.atspi.Cache',member='AddAccessible'",
    "type='signal',interface='org.a11y.atspi.Cache',member='RemoveAccessible'",
    "type='signal',interface='org.a11y.atspi.Event.Object',member='ChildrenChanged'",
    "type='signal',interface='org.a11y.atspi.Event.Object',member='PropertyChange'",
    "type='signal',interface='org.a11y.atspi.Event.Object',member='StateChanged'",
};

bool atspiUsable() {
  if (!atspiTried) {
    atspiTried = true;
    // Before the first call: libatspi gives an application it has just met
    // 15 s per call otherwise.
    atspi_set_timeout(callTimeoutMs, callTimeoutMs);
    atspiReady = sessionBusExists() && atspi_init() == 0;
    if (atspiReady) {
      accessibilityBus = dbus_connection_ref(atspi_get_a11y_bus());
      // No reply is awaited: the bus applies these in order after the rules atspi_init added.
      for (const char* rule : unwantedSignals) dbus_bus_remove_match(accessibilityBus, rule, nullptr);
      dbus_connection_flush(accessibilityBus);
    }
  }
  return atspiReady;
}

// Arms the timeouts for the next call from what is left of the query's
// budget; false when there is nothing left to ask with.
bool mayCall() {
  if (queryFailed) return false;
  const gint64 nowUs = g_get_monotonic_time();
  const gint64 leftMs = (queryDeadlineUs - nowUs) / 1000;
  if (leftMs <= 0) return false;
  // The second value is for applications that started lately; without it
  // they would get up to 15 s per call.
  const gint timeoutMs = leftMs < callTimeoutMs ? static_cast<gint>(leftMs) : callTimeoutMs;
  atspi_set_timeout(timeoutMs, timeoutMs);
  callStartedUs = nowUs;
  callAllowedUs = gint64{timeoutMs} * 1000;
  return true;
}

// Marks the query failed for the application being asked. A failure that
// came when the call's time was (nearly) up is a timeout: the application
// is stopped or hung, and later queries pass it over. A quick one is an
// answer, such as an element that has just gone away.
void noteFailure() {
  queryFailed = true;
  if (g_get_monotonic_time() - callStartedUs >= callAllowedUs * 9 / 10) callTimedOut = true;
}

// Clears a call's error; true when there was one, which marks the query failed.
bool failed(GError* error) {
  if (error == nullptr) return false;
  g_error_free(error);
  noteFailure();
  return true;
}

AxRef stringValue(const char* text) {
  GObject* value = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
  g_object_set_qdata_full(value, stringQuark(), g_strdup(text), g_free);
  return reinterpret_cast<AxRef>(value);
}

AtspiAccessible* accessibleOf(AxRef ref) {
  if (ref == nullptr || ref == systemWideElement) return nullptr;
  GObject* object = reinterpret_cast<GObject*>(ref);
  return ATSPI_IS_ACCESSIBLE(object) ? ATSPI_ACCESSIBLE(object) : nullptr;
}

// The element's states, or nullptr when its application did not answer
// (libatspi then hands back a set holding only DEFUNCT).
AtspiStateSet* statesOf(AtspiAccessible* element) {
  if (!mayCall()) return nullptr;
  AtspiStateSet* states = atspi_accessible_get_state_set(element);
  if (states != nullptr && !atspi_state_set_contains(states, ATSPI_STATE_DEFUNCT)) return states;
  if (states != nullptr) g_object_unref(states);
  noteFailure();
  return nullptr;
}

bool hasState(AtspiAccessible* element, AtspiStateType state, bool* answered) {
  AtspiStateSet* states = statesOf(element);
  *answered = states != nullptr;
  if (states == nullptr) return false;
  const bool contains = atspi_state_set_contains(states, state);
  g_object_unref(states);
  return contains;
}

void forgetDescribed() {
  if (describedStates != nullptr) g_object_unref(describedStates);
  if (describedElement != nullptr) g_object_unref(describedElement);
  describedElement = nullptr;
  describedStates = nullptr;
  describedRoleKnown = false;
}

void describe(AtspiAccessible* element) {
  if (describedElement == element) return;
  forgetDescribed();
  describedElement = ATSPI_ACCESSIBLE(g_object_ref(element));
}

// hasState for the element being classified, asked once per query.
bool describedHasState(AtspiAccessible* element, AtspiStateType state, bool* answered) {
  describe(element);
  if (describedStates == nullptr) describedStates = statesOf(element);
  *answered = describedStates != nullptr;
  return describedStates != nullptr && atspi_state_set_contains(describedStates, state);
}

AtspiAccessible* childAt(AtspiAccessible* parent, gint index) {
  if (!mayCall()) return nullptr;
  GError* error = nullptr;
  AtspiAccessible* child = atspi_accessible_get_child_at_index(parent, index, &error);
  if (failed(error)) {
    if (child != nullptr) g_object_unref(child);
    return nullptr;
  }
  if (child == nullptr) noteFailure();
  return child;
}

gint childCount(AtspiAccessible* parent) {
  if (!mayCall()) return 0;
  GError* error = nullptr;
  const gint count = atspi_accessible_get_child_count(parent, &error);
  if (failed(error)) return 0;
  // A property read that timed out comes back as -1 with no error.
  if (count < 0) {
    noteFailure();
    return 0;
  }
  return count;
}

// The first element of the window, in document order, that holds every one
// of the states.
AtspiAccessible* firstMatch(AtspiCollection* collection, std::initializer_list<AtspiStateType> wanted) {
  AtspiStateSet* states = atspi_state_set_new(nullptr);
  for (AtspiStateType state : wanted) atspi_state_set_add(states, state);
  AtspiMatchRule* rule = atspi_match_rule_new(states, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL,
                                              nullptr, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL,
                                              FALSE);
  g_object_unref(states);
  AtspiAccessible* found = nullptr;
  if (mayCall()) {
    GError* error = nullptr;
    // traverse must be TRUE: whatever the documentation says, without it the
    // toolkit's side looks at the window's own children only.
    GArray* matches =
        atspi_collection_get_matches(collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, &error);
    failed(error);
    if (matches != nullptr) {
      for (guint i = 0; i < matches->len; ++i) {
        AtspiAccessible* match = g_array_index(matches, AtspiAccessible*, i);
        if (found == nullptr) {
          found = match;
        } else {
          g_object_unref(match);
        }
      }
      g_array_free(matches, TRUE);
    }
  }
  g_object_unref(rule);
  return found;
}

// More than one element can be FOCUSED at once, nested: LibreOffice marks a
// panel around the document as well as the caret's paragraph, Qt a text
// area's viewport as well as the text area. The one that takes the keys is
// the one that can take the focus at all: FOCUSABLE. Elements that hold
// FOCUSED without it are only a fallback, for a toolkit that never says
// FOCUSABLE.
//
// Collection finds the first match in document order and stops there, so it
// is asked for the outermost FOCUSABLE one; the toolkits that have it (GTK 3
// and the ATK bridge under Firefox, Chromium and LibreOffice) mark no
// FOCUSABLE element FOCUSED inside another. Asking for the innermost would
// take every match, a walk over the whole window in the application.
AtspiAccessible* focusedByCollection(AtspiCollection* collection) {
  AtspiAccessible* found = firstMatch(collection, {ATSPI_STATE_FOCUSED, ATSPI_STATE_FOCUSABLE});
  if (found == nullptr && !queryFailed) found = firstMatch(collection, {ATSPI_STATE_FOCUSED});
  return found;
}

// The first FOCUSED child of parent, with its states, or nullptr.
AtspiAccessible* focusedChild(AtspiAccessible* parent, AtspiStateSet** childStates) {
  const gint count = childCount(parent);
  for (gint i = 0; i < count && !queryFailed; ++i) {
    AtspiAccessible* child = childAt(parent, i);
    if (child == nullptr) continue;
    AtspiStateSet* states = statesOf(child);
    if (states != nullptr && atspi_state_set_contains(states, ATSPI_STATE_FOCUSED)) {
      *childStates = states;
      return child;
    }
    if (states != nullptr) g_object_unref(states);
    g_object_unref(child);
  }
  return nullptr;
}

// From the outermost FOCUSED element down through its FOCUSED children: the
// innermost of them that is FOCUSABLE (Qt marks both an editable combo box
// and its line edit), else the outermost. Takes over outer and its states.
AtspiAccessible* innermostFocusable(AtspiAccessible* outer, AtspiStateSet* outerStates) {
  AtspiAccessible* chosen = outer;
  AtspiAccessible* node = ATSPI_ACCESSIBLE(g_object_ref(outer));
  AtspiStateSet* states = outerStates;
  for (;;) {
    // Not into a list or table that manages its descendants: it can hold
    // thousands, and typing into it is never typing text.
    const bool descend = !atspi_state_set_contains(states, ATSPI_STATE_MANAGES_DESCENDANTS);
    g_object_unref(states);
    AtspiAccessible* child = descend ? focusedChild(node, &states) : nullptr;
    g_object_unref(node);
    if (child == nullptr) return chosen;
    if (atspi_state_set_contains(states, ATSPI_STATE_FOCUSABLE)) {
      g_object_unref(chosen);
      chosen = ATSPI_ACCESSIBLE(g_object_ref(child));
    }
    node = child;
  }
}

// One level of the walk below: a parent and the next of its children to visit.
struct WalkLevel {
  AtspiAccessible* parent;  // referenced while on the walk
  gint next;
  gint count;
};

// The element's answer if it is FOCUSED; otherwise its children join the
// walk, unless it manages its descendants (those can be huge or endless).
AtspiAccessible* visit(AtspiAccessible* node, std::vector<WalkLevel>& levels) {
  AtspiStateSet* states = statesOf(node);
  if (states == nullptr) return nullptr;
  if (atspi_state_set_contains(states, ATSPI_STATE_FOCUSED)) {
    return innermostFocusable(ATSPI_ACCESSIBLE(g_object_ref(node)), states);
  }
  const bool descend = !atspi_state_set_contains(states, ATSPI_STATE_MANAGES_DESCENDANTS);
  g_object_unref(states);
  const gint count = descend ? childCount(node) : 0;
  if (count > 0) levels.push_back({ATSPI_ACCESSIBLE(g_object_ref(node)), 0, count});
  return nullptr;
}

// For toolkits without the Collection interface (Qt, GTK 4): depth-first,
// every child (a cap on children once missed the entry in a large window),
// each fetched only when its turn comes, since every fetch is a round trip
// and the search stops at the first FOCUSED element.
AtspiAccessible* focusedByWalk(AtspiAccessible* window) {
  std::vector<WalkLevel> levels;
  AtspiAccessible* found = visit(window, levels);
  while (found == nullptr && !levels.empty() && !queryFailed) {
    WalkLevel& level = levels.back();
    if (level.next == level.count) {
      g_object_unref(level.parent);
      levels.pop_back();
      continue;
    }
    AtspiAccessible* child = childAt(level.parent, level.next++);
    if (child == nullptr) continue;
    found = visit(child, levels);
    g_object_unref(child);
  }
  for (WalkLevel& level : levels) g_object_unref(level.parent);
  return found;
}

AtspiAccessible* focusedInWindow(AtspiAccessible* window) {
  if (!mayCall()) return nullptr;
  AtspiCollection* collection = atspi_accessible_get_collection_iface(window);
  if (collection == nullptr) return queryFailed ? nullptr : focusedByWalk(window);
  AtspiAccessible* found = focusedByCollection(collection);
  g_object_unref(collection);
  return found;
}

void rememberWindow(AtspiAccessible* window) {
  if (window != nullptr) g_object_ref(window);
  if (lastWindow != nullptr) g_object_unref(lastWindow);
  lastWindow = window;
}

const char* busNameOf(AtspiAccessible* element) {
  AtspiApplication* application = element->parent.app;
  return application != nullptr ? application->bus_name : nullptr;
}

void onPingAnswered(DBusPendingCall*, void* busName) { unanswering.erase(static_cast<const char*>(busName)); }

// Remembers an application that let a call time out, and pings it with no
// timeout: the answer, whenever it comes, ends the pass-over, and until
// then it costs nothing.
void rememberUnanswering(AtspiAccessible* element) {
  AtspiApplication* application = element->parent.app;
  if (application == nullptr || application->bus_name == nullptr || application->bus == nullptr) return;
  if (unanswering.size() >= maxUnanswering && unanswering.count(application->bus_name) == 0) {
    auto oldest = unanswering.begin();
    for (auto entry = unanswering.begin(); entry != unanswering.end(); ++entry) {
      if (entry->second < oldest->second) oldest = entry;
    }
    unanswering.erase(oldest);
  }
  unanswering[application->bus_name] = g_get_monotonic_time();
  DBusMessage* ping = dbus_message_new_method_call(application->bus_name, "/", DBUS_INTERFACE_PEER, "Ping");
  if (ping == nullptr) return;
  DBusPendingCall* pending = nullptr;
  if (dbus_connection_send_with_reply(application->bus, ping, &pending, DBUS_TIMEOUT_INFINITE) &&
      pending != nullptr) {
    dbus_pending_call_set_notify(pending, onPingAnswered, g_strdup(application->bus_name), g_free);
    dbus_pending_call_unref(pending);  // the connection keeps it until the answer
  }
  dbus_message_unref(ping);
}

// Whether this query passes the element's application over: it let a call
// time out lately and has not answered since. Once its time is up it is
// tried again, but only one such application per query, so that a query
// spends at most one call's timeout on applications that may still not
// answer.
bool passedOver(AtspiAccessible* element) {
  const char* busName = busNameOf(element);
  if (busName == nullptr) return false;
  const auto entry = unanswering.find(busName);
  if (entry == unanswering.end()) return false;
  if (retriedThisQuery || g_get_monotonic_time() - entry->second < retryUnansweringUs) return true;
  retriedThisQuery = true;
  return false;
}

// After asking the element's application: remembered if it let a call time out.
void settleApplication(AtspiAccessible* element) {
  if (callTimedOut) rememberUnanswering(element);
  callTimedOut = false;
}

AtspiAccessible* focusedInApplication(AtspiAccessible* application) {
  AtspiAccessible* found = nullptr;
  const gint windows = childCount(application);
  for (gint i = 0; i < windows && found == nullptr && !queryFailed; ++i) {
    AtspiAccessible* window = childAt(application, i);
    if (window == nullptr) continue;
    bool answered = false;
    if (hasState(window, ATSPI_STATE_ACTIVE, &answered)) found = focusedInWindow(window);
    if (found != nullptr) rememberWindow(window);
    g_object_unref(window);
  }
  return found;
}

// The focused element of the last query's window while it is still ACTIVE;
// nullptr sends the query on to the full search. An application that did
// not answer here is the one passed over there.
AtspiAccessible* focusedInLastWindow(AtspiApplication** unanswered) {
  if (lastWindow == nullptr) return nullptr;
  AtspiAccessible* found = nullptr;
  if (!passedOver(lastWindow)) {
    bool answered = false;
    if (hasState(lastWindow, ATSPI_STATE_ACTIVE, &answered)) found = focusedInWindow(lastWindow);
    if (queryFailed) *unanswered = lastWindow->parent.app;
    settleApplication(lastWindow);
  }
  if (found == nullptr) rememberWindow(nullptr);
  return found;
}

// The focused element of the active window, searching the desktop's
// applications in turn; one that does not answer is passed over.
AtspiAccessible* findFocused() {
  retriedThisQuery = false;
  callTimedOut = false;
  AtspiApplication* unanswered = nullptr;
  AtspiAccessible* found = focusedInLastWindow(&unanswered);
  if (found != nullptr) {
    queryFailed = false;
    return found;
  }
  AtspiAccessible* desktop = atspi_get_desktop(0);
  if (desktop == nullptr) return nullptr;
  queryFailed = false;
  // The desktop is the registry's, which is passed over as an application is.
  gint applications = 0;
  if (!passedOver(desktop)) applications = childCount(desktop);
  settleApplication(desktop);
  for (gint i = 0; i < applications && found == nullptr; ++i) {
    // A failure belongs to the application that caused it.
    queryFailed = false;
    AtspiAccessible* application = childAt(desktop, i);
    callTimedOut = false;
    if (application == nullptr) continue;
    applicationsMet.insert(application->parent.app);
    if (application->parent.app != unanswered && !passedOver(application)) {
      found = focusedInApplication(application);
      settleApplication(application);
    }
    g_object_unref(application);
  }
  g_object_unref(desktop);
  // The application that answered is the one asked from here on.
  if (found != nullptr) queryFailed = false;
  return found;
}

// What macOS calls the equivalent widget; docs/linux-backends.md explains the
// choices. Text fields and combo boxes are not here: their states decide.
constexpr std::array<std::pair<AtspiRole, const char*>, 48> axRoles = {{
    {ATSPI_ROLE_PUSH_BUTTON, "AXButton"},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, "AXMenuButton"},
    {ATSPI_ROLE_TOGGLE_BUTTON, "AXCheckBox"},
    {ATSPI_ROLE_CHECK_BOX, "AXCheckBox"},
    {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton"},
    {ATSPI_ROLE_LABEL, "AXStaticText"},
    {ATSPI_ROLE_STATIC, "AXStaticText"},
    {ATSPI_ROLE_CAPTION, "AXStaticText"},
    {ATSPI_ROLE_TOOL_TIP, "AXStaticText"},
    {ATSPI_ROLE_HEADING, "AXHeading"},
    {ATSPI_ROLE_LINK, "AXLink"},
    {ATSPI_ROLE_IMAGE, "AXImage"},
    {ATSPI_ROLE_ICON, "AXImage"},
    {ATSPI_ROLE_MENU, "AXMenu"},
    {ATSPI_ROLE_MENU_BAR, "AXMenuBar"},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_CHECK_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_RADIO_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_LIST, "AXList"},
    {ATSPI_ROLE_LIST_BOX, "AXList"},
    {ATSPI_ROLE_LIST_ITEM, "AXRow"},
    {ATSPI_ROLE_TABLE, "AXTable"},
    {ATSPI_ROLE_TABLE_ROW, "AXRow"},
    {ATSPI_ROLE_TABLE_CELL, "AXCell"},
    {ATSPI_ROLE_TABLE_COLUMN_HEADER, "AXCell"},
    {ATSPI_ROLE_TABLE_ROW_HEADER, "AXCell"},
    {ATSPI_ROLE_TREE, "AXOutline"},
    {ATSPI_ROLE_TREE_TABLE, "AXOutline"},
    {ATSPI_ROLE_TREE_ITEM, "AXRow"},
    {ATSPI_ROLE_SLIDER, "AXSlider"},
    {ATSPI_ROLE_SPIN_BUTTON, "AXIncrementor"},
    {ATSPI_ROLE_SCROLL_BAR, "AXScrollBar"},
    {ATSPI_ROLE_SCROLL_PANE, "AXScrollArea"},
    {ATSPI_ROLE_SPLIT_PANE, "AXSplitGroup"},
    {ATSPI_ROLE_PROGRESS_BAR, "AXProgressIndicator"},
    {ATSPI_ROLE_LEVEL_BAR, "AXLevelIndicator"},
    {ATSPI_ROLE_PAGE_TAB, "AXRadioButton"},
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup"},
    {ATSPI_ROLE_TOOL_BAR, "AXToolbar"},
    {ATSPI_ROLE_SEPARATOR, "AXSplitter"},
    {ATSPI_ROLE_FRAME, "AXWindow"},
    {ATSPI_ROLE_WINDOW, "AXWindow"},
    {ATSPI_ROLE_DIALOG, "AXWindow"},
    {ATSPI_ROLE_ALERT, "AXWindow"},
    {ATSPI_ROLE_DOCUMENT_WEB, "AXWebArea"},
    {ATSPI_ROLE_PANEL, "AXGroup"},
    {ATSPI_ROLE_FILLER, "AXGroup"},
    {ATSPI_ROLE_SECTION, "AXGroup"},
}};

// Roles that take typed text when the element's states say so.
bool isTextRole(AtspiRole role) {
  return role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_PASSWORD_TEXT || role == ATSPI_ROLE_ENTRY ||
         role == ATSPI_ROLE_EDITBAR;
}

bool roleOf(AtspiAccessible* element, AtspiRole* role) {
  describe(element);
  if (!describedRoleKnown) {
    if (!mayCall()) return false;
    GError* error = nullptr;
    describedRole = atspi_accessible_get_role(element, &error);
    if (failed(error)) return false;
    describedRoleKnown = true;
  }
  *role = describedRole;
  return true;
}

// EDITABLE is what every toolkit says of a field that takes typed text, and
// READ_ONLY overrides it: Qt sets both on a read-only line edit. (Chromium
// and GTK 4 set READ_ONLY alone on one, Firefox and GTK 3 neither.)
bool editableByStates(AtspiAccessible* element, bool* answered) {
  const bool editable = describedHasState(element, ATSPI_STATE_EDITABLE, answered);
  return editable && !describedHasState(element, ATSPI_STATE_READ_ONLY, answered);
}

// Whether typed text goes into the element. A terminal says neither EDITABLE
// nor READ_ONLY, and what is typed goes to its child process.
bool takesTypedText(AtspiAccessible* element) {
  AtspiRole role = ATSPI_ROLE_INVALID;
  if (!roleOf(element, &role)) return false;
  bool answered = false;
  return role == ATSPI_ROLE_TERMINAL || editableByStates(element, &answered);
}

bool copyRole(AtspiAccessible* element, AxRef* value) {
  AtspiRole role = ATSPI_ROLE_INVALID;
  if (!roleOf(element, &role)) return false;
  const char* name = "AXUnknown";
  if (role == ATSPI_ROLE_TERMINAL) {
    name = "AXTextArea";
  } else if (isTextRole(role) || role == ATSPI_ROLE_COMBO_BOX) {
    // A field you cannot type into is static text to macOS, and a combo box
    // you cannot type into (a <select>, a plain Qt combo box) a pop-up button.
    bool answered = false;
    const bool editable = editableByStates(element, &answered);
    if (!answered) return false;
    if (role == ATSPI_ROLE_COMBO_BOX) {
      name = editable ? "AXComboBox" : "AXPopUpButton";
    } else if (!editable) {
      name = "AXStaticText";
    } else {
      name = describedHasState(element, ATSPI_STATE_MULTI_LINE, &answered) ? "AXTextArea" : "AXTextField";
    }
  } else {
    for (const auto& [atspiRole, axRole] : axRoles) {
      if (atspiRole == role) name = axRole;
    }
  }
  *value = stringValue(name);
  return true;
}

// Only where typed text goes. Browsers give the Text interface to buttons,
// links, paragraphs and the page itself, so having it says nothing.
bool copySelectedText(AtspiAccessible* element, AxRef* value) {
  if (!takesTypedText(element) || !mayCall()) return false;
  AtspiText* text = atspi_accessible_get_text_iface(element);
  if (text == nullptr) return false;
  GError* error = nullptr;
  AtspiRange* range = mayCall() ? atspi_text_get_selection(text, 0, &error) : nullptr;
  gchar* selected = nullptr;
  if (!failed(error) && range != nullptr && mayCall()) {
    selected = atspi_text_get_text(text, range->start_offset, range->end_offset, &error);
    if (failed(error)) {
      g_free(selected);
      selected = nullptr;
    }
  }
  if (range != nullptr) g_free(range);
  g_object_unref(text);
  if (selected == nullptr) return false;
  *value = stringValue(selected);
  g_free(selected);
  return true;
}

// Only where typed text goes, too: the localised name says no more than the
// role, and says "text" of text that cannot be typed into ("text box" for
// any GTK 4 field, "text" for any Qt one, read-only or not).
bool copyRoleDescription(AtspiAccessible* element, AxRef* value) {
  if (!takesTypedText(element) || !mayCall()) return false;
  GError* error = nullptr;
  gchar* description = atspi_accessible_get_localized_role_name(element, &error);
  if (failed(error) || description == nullptr) {
    g_free(description);
    return false;
  }
  *value = stringValue(description);
  g_free(description);
  return true;
}

}  // namespace

// A query starts here.
AxRef ortel_atspi_create_system_wide() {
  queryFailed = false;
  forgetDescribed();
  return systemWideElement;
}

void ortel_atspi_set_deadline(gint64 deadlineUs) { queryDeadlineUs = deadlineUs; }

bool ortel_atspi_bus_lost() { return accessibilityBus != nullptr && !dbus_connection_get_is_connected(accessibilityBus); }

bool ortel_atspi_start_failed() { return atspiTried && !atspiReady; }

std::size_t ortel_atspi_applications_met() { return applicationsMet.size(); }

bool ortel_atspi_copy_attribute_value(AxRef element, const char* attribute, AxRef* value) {
  *value = nullptr;
  if (element == systemWideElement) {
    if (std::strcmp(attribute, "AXFocusedUIElement") != 0 || !atspiUsable()) return false;
    AtspiAccessible* focused = findFocused();
    *value = reinterpret_cast<AxRef>(focused);
    return focused != nullptr;
  }
  AtspiAccessible* accessible = accessibleOf(element);
  if (accessible == nullptr) return false;
  if (std::strcmp(attribute, "AXRole") == 0) return copyRole(accessible, value);
  if (std::strcmp(attribute, "AXSelectedText") == 0) return copySelectedText(accessible, value);
  if (std::strcmp(attribute, "AXRoleDescription") == 0) return copyRoleDescription(accessible, value);
  return false;
}

bool ortel_atspi_is_attribute_settable(AxRef element, const char* attribute, bool* settable) {
  AtspiAccessible* accessible = accessibleOf(element);
  if (accessible == nullptr || std::strcmp(attribute, "AXValue") != 0) return false;
  bool answered = false;
  const bool editable = editableByStates(accessible, &answered);
  if (answered) *settable = editable;
  return answered;
}

const char* ortel_atspi_string_value(AxRef value) {
  if (value == nullptr || value == systemWideElement || accessibleOf(value) != nullptr) return nullptr;
  return static_cast<const gchar*>(g_object_get_qdata(reinterpret_cast<GObject*>(value), stringQuark()));
}

// Releasing the system-wide element ends a query.
void ortel_atspi_release(AxRef ref) {
  if (ref == nullptr) return;
  if (ref == systemWideElement) {
    forgetDescribed();
    return;
  }
  g_object_unref(reinterpret_cast<GObject*>(ref));
}
