#include "accessibility/focus.h"

#include <array>
#include <string>

#include "accessibility/ax.h"

namespace {

constexpr std::array<std::string_view, 4> editableRoles = {
    "AXTextField", "AXTextArea", "AXComboBox", "AXSearchField"};
constexpr std::array<std::string_view, 3> roleDescriptionKeywords = {"text", "edit", "input"};

// The string value of an attribute, or the empty text when the query fails
// or the value is not a string.
std::string copyStringAttribute(AxRef element, const char* attribute) {
  AxRef value = nullptr;
  axCopyAttributeValue(element, attribute, &value);
  std::string text;
  if (value != nullptr) {
    if (!axStringValue(value, &text)) text.clear();
    axRelease(value);
  }
  return text;
}

bool hasEditableRole(AxRef element) {
  const std::string role = copyStringAttribute(element, "AXRole");
  for (std::string_view editable : editableRoles) {
    if (role == editable) return true;
  }
  return false;
}

bool hasSettableValue(AxRef element) {
  bool settable = false;
  return axIsAttributeSettable(element, "AXValue", &settable) && settable;
}

bool answersSelectedText(AxRef element) {
  AxRef value = nullptr;
  const bool answered = axCopyAttributeValue(element, "AXSelectedText", &value);
  if (value != nullptr) axRelease(value);
  return answered;
}

bool describesItselfAsEditable(AxRef element) {
  const std::string description = axLowercase(copyStringAttribute(element, "AXRoleDescription"));
  for (std::string_view keyword : roleDescriptionKeywords) {
    if (description.find(keyword) != std::string::npos) return true;
  }
  return false;
}

bool isEditable(AxRef element) {
  return hasEditableRole(element) || hasSettableValue(element) || answersSelectedText(element) ||
         describesItselfAsEditable(element);
}

bool focusIsEditable() {
  AxRef systemWide = axCreateSystemWide();
  AxRef focused = nullptr;
  const bool answered = axCopyAttributeValue(systemWide, "AXFocusedUIElement", &focused);
  bool editable = false;
  if (answered && focused != nullptr) editable = isEditable(focused);
  if (focused != nullptr) axRelease(focused);
  if (systemWide != nullptr) axRelease(systemWide);
  return editable;
}

}  // namespace

std::string_view checkFocus() { return axRunQuery(focusIsEditable) ? focusEditable : focusNone; }
