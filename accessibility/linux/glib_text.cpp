#include <glib.h>

#include <string>

#include "accessibility/ax.h"

std::string axLowercase(const std::string& text) {
  // GLib's case mapping wants valid UTF-8; repair first rather than read past a bad sequence.
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  gchar* lowered = g_utf8_strdown(valid, -1);
  std::string result(lowered);
  g_free(lowered);
  g_free(valid);
  return result;
}
