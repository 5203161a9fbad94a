// The focus queries on AT-SPI (atspi_ax.cpp), as the accessibility process
// ortel-atspi serves them to the helper: the element calls of the
// accessibility seam, plus what the process needs to run them.
#pragma once

#include <glib.h>

#include <cstddef>

#include "accessibility/ax.h"

// Starts a query.
AxRef ortel_atspi_create_system_wide();
// Nothing is asked of any application past this time (g_get_monotonic_time).
void ortel_atspi_set_deadline(gint64 deadlineUs);
bool ortel_atspi_copy_attribute_value(AxRef element, const char* attribute, AxRef* value);
bool ortel_atspi_is_attribute_settable(AxRef element, const char* attribute, bool* settable);
// The text of a string value, owned by the value; nullptr for anything else.
const char* ortel_atspi_string_value(AxRef value);
// Releasing the system-wide element ends the query.
void ortel_atspi_release(AxRef ref);

// The accessibility bus this process started on has gone away; libatspi
// cannot start again in the same process.
bool ortel_atspi_bus_lost();
// AT-SPI could not be started (no session bus, no accessibility bus).
bool ortel_atspi_start_failed();
// How many applications the queries have met so far.
std::size_t ortel_atspi_applications_met();
