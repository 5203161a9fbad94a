// The focus-query module (ortel-atspi.so, beside the executable): the
// element calls of the accessibility seam, loaded at the first focus query.
// A plain C interface, so that the module and the helper share no C++
// runtime state.
#pragma once

#include "accessibility/ax.h"

inline constexpr const char* atspiModuleName = "ortel-atspi.so";

extern "C" {
AxRef ortel_atspi_create_system_wide();
bool ortel_atspi_copy_attribute_value(AxRef element, const char* attribute, AxRef* value);
bool ortel_atspi_is_attribute_settable(AxRef element, const char* attribute, bool* settable);
// The text of a string value, owned by the value; nullptr for anything else.
const char* ortel_atspi_string_value(AxRef value);
void ortel_atspi_release(AxRef ref);
}
