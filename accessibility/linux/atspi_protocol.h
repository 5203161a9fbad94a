// The lines the helper (atspi_client.cpp) and its accessibility process
// (atspi_main.cpp) exchange, one pipe each way.
//
// A request is "SEQUENCE DEADLINE QUESTION": DEADLINE is the time, on the
// monotonic clock both processes read (g_get_monotonic_time, µs), after
// which the helper no longer waits for the answer. The questions:
//
//   focus             a new query: the focused element, and with it the two
//                     answers every classification asks for next, so that an
//                     editable text field costs one exchange
//                     -> "found SETTABLE ROLE" or "none"
//   selected-text     whether the focused element answers AXSelectedText
//                     -> "yes" or "no"; the text itself never crosses
//   role-description  its AXRoleDescription -> TEXT
//
// A reply is "SEQUENCE ANSWER", where a text is "=" and the text, or "-"
// when the application gave none, and SETTABLE is "true", "false" or "-".
// Texts are single lines of bounded length (textField). A reply whose
// sequence is not the one awaited belongs to a question given up on, and
// is dropped.
#pragma once

#include <string>
#include <string_view>

inline constexpr const char* atspiProcessName = "ortel-atspi";

inline constexpr std::string_view questionFocus = "focus";
inline constexpr std::string_view questionSelectedText = "selected-text";
inline constexpr std::string_view questionRoleDescription = "role-description";

inline constexpr std::string_view answerNone = "none";
inline constexpr std::string_view answerFound = "found";
inline constexpr std::string_view answerYes = "yes";
inline constexpr std::string_view answerNo = "no";
inline constexpr std::string_view noText = "-";

// Longer than any role or role description; a longer reply line means the
// process is broken.
inline constexpr std::size_t maxTextBytes = 1024;
inline constexpr std::size_t maxReplyBytes = maxTextBytes + 64;
inline constexpr std::size_t maxRequestBytes = 128;

// A text as a reply carries it: on one line, cut to maxTextBytes.
inline std::string textField(std::string_view text) {
  std::string field = "=";
  for (const char c : text.substr(0, maxTextBytes)) field.push_back(c == '\n' || c == '\r' ? ' ' : c);
  return field;
}
