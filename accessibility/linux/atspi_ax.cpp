// The focus queries on AT-SPI, answered as macOS would answer them for the
// equivalent widget (docs/linux-backends.md has the table). Built as a module
// of its own that the helper loads at its first focus query: libatspi and
// libdbus with what they pull in cost more at every start than all the rest
// of the helper, and a parent that never asks for focus never needs them.
//
// Reader thread only. libatspi is not thread-safe: it ties its buses to
// GLib's global default context and dispatches on whichever thread makes a
// blocking call, so the main thread runs its loop on a context of its own
// and this thread is the only one that ever touches libatspi.
//
// An AxRef here is one of three things: the system-wide marker, an
// AtspiAccessible, or a plain GObject that carries a string value. All but
// the marker are released with g_object_unref.
#include <atspi/atspi.h>
#include <glib-object.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "accessibility/linux/atspi_module.h"

namespace {

// What one query may cost in total when an application does not answer
// (stopped, hung): no single call waits longer than a call timeout, an
// application that failed once is not asked again, and nothing is asked
// once the query's budget is spent.
constexpr gint callTimeoutMs = 400;
constexpr gint64 queryBudgetUs = 1'000'000;

char systemWideMarker;
AxObject* const systemWideElement = reinterpret_cast<AxObject*>(&systemWideMarker);

bool atspiTried = false;
bool atspiReady = false;
gint64 queryDeadlineUs = 0;
bool queryFailed = false;  // an application failed to answer during this query

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
// make libdbus abort the process, so a failed start is final.
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

bool atspiUsable() {
  if (!atspiTried) {
    atspiTried = true;
    atspiReady = sessionBusExists() && atspi_init() == 0;
  }
  return atspiReady;
}

// Arms the timeouts for the next call from what is left of the query's
// budget; false when there is nothing left to ask with.
bool mayCall() {
  if (queryFailed) return false;
  const gint64 leftMs = (queryDeadlineUs - g_get_monotonic_time()) / 1000;
  if (leftMs <= 0) return false;
  // The second value is for applications that started lately; without it
  // they would get up to 15 s per call.
  const gint timeoutMs = leftMs < callTimeoutMs ? static_cast<gint>(leftMs) : callTimeoutMs;
  atspi_set_timeout(timeoutMs, timeoutMs);
  return true;
}

// Clears a call's error; true when there was one, which marks the query failed.
bool failed(GError* error) {
  if (error == nullptr) return false;
  g_error_free(error);
  queryFailed = true;
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
  queryFailed = true;
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
  return child;
}

gint childCount(AtspiAccessible* parent) {
  if (!mayCall()) return 0;
  GError* error = nullptr;
  const gint count = atspi_accessible_get_child_count(parent, &error);
  return failed(error) ? 0 : count;
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
AtspiAccessible* focusedInLastWindow(AtspiApplication** unanswering) {
  if (lastWindow == nullptr) return nullptr;
  bool answered = false;
  AtspiAccessible* found = nullptr;
  if (hasState(lastWindow, ATSPI_STATE_ACTIVE, &answered)) found = focusedInWindow(lastWindow);
  if (queryFailed) *unanswering = lastWindow->parent.app;
  if (found == nullptr) rememberWindow(nullptr);
  return found;
}

// The focused element of the active window, searching the desktop's
// applications in turn; one that does not answer is passed over.
AtspiAccessible* findFocused() {
  AtspiApplication* unanswering = nullptr;
  AtspiAccessible* found = focusedInLastWindow(&unanswering);
  if (found != nullptr) {
    queryFailed = false;
    return found;
  }
  AtspiAccessible* desktop = atspi_get_desktop(0);
  if (desktop == nullptr) return nullptr;
  queryFailed = false;
  const gint applications = childCount(desktop);
  for (gint i = 0; i < applications && found == nullptr; ++i) {
    // A failure belongs to the application that caused it.
    queryFailed = false;
    AtspiAccessible* application = childAt(desktop, i);
    if (application == nullptr) continue;
    if (application->parent.app != unanswering) found = focusedInApplication(application);
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

// Hands back D-Bus messages that arrived since the last query (signals the
// accessibility bus sends us) so they do not pile up between queries.
void drainDefaultContext() {
  for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

}  // namespace

// A query starts here: its budget runs from now.
AxRef ortel_atspi_create_system_wide() {
  queryDeadlineUs = g_get_monotonic_time() + queryBudgetUs;
  queryFailed = false;
  forgetDescribed();
  return systemWideElement;
}

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
    if (atspiReady) drainDefaultContext();
    return;
  }
  g_object_unref(reinterpret_cast<GObject*>(ref));
}
