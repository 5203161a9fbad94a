// The element calls of the accessibility seam, forwarded to the focus-query
// module once the reader thread's first query has loaded it. Without the
// module nothing is ever focused, as on a desktop without accessibility.
#include <gmodule.h>

#include <string>

#include "accessibility/ax.h"
#include "accessibility/linux/atspi_module.h"

namespace {

bool loadTried = false;
decltype(&ortel_atspi_create_system_wide) createSystemWide = nullptr;
decltype(&ortel_atspi_copy_attribute_value) copyAttributeValue = nullptr;
decltype(&ortel_atspi_is_attribute_settable) isAttributeSettable = nullptr;
decltype(&ortel_atspi_string_value) stringValue = nullptr;
decltype(&ortel_atspi_release) release = nullptr;

// Stands for the system-wide element while there is no module.
char systemWideMarker;
AxObject* const noModuleSystemWide = reinterpret_cast<AxObject*>(&systemWideMarker);

template <typename Function>
bool findSymbol(GModule* module, const char* name, Function* function) {
  gpointer address = nullptr;
  if (!g_module_symbol(module, name, &address)) return false;
  *function = reinterpret_cast<Function>(address);
  return true;
}

// The module is found beside the executable, never on a search path.
bool moduleLoaded() {
  if (loadTried) return release != nullptr;
  loadTried = true;
  gchar* executable = g_file_read_link("/proc/self/exe", nullptr);
  if (executable == nullptr) return false;
  gchar* directory = g_path_get_dirname(executable);
  gchar* path = g_build_filename(directory, atspiModuleName, nullptr);
  // Kept loaded for the life of the process.
  GModule* module = g_module_open(path, static_cast<GModuleFlags>(G_MODULE_BIND_LOCAL));
  g_free(path);
  g_free(directory);
  g_free(executable);
  if (module == nullptr) return false;
  if (!findSymbol(module, "ortel_atspi_create_system_wide", &createSystemWide) ||
      !findSymbol(module, "ortel_atspi_copy_attribute_value", &copyAttributeValue) ||
      !findSymbol(module, "ortel_atspi_is_attribute_settable", &isAttributeSettable) ||
      !findSymbol(module, "ortel_atspi_string_value", &stringValue) ||
      !findSymbol(module, "ortel_atspi_release", &release)) {
    release = nullptr;
    return false;
  }
  return true;
}

}  // namespace

AxRef axCreateSystemWide() { return moduleLoaded() ? createSystemWide() : noModuleSystemWide; }

bool axCopyAttributeValue(AxRef element, const char* attribute, AxRef* value) {
  *value = nullptr;
  return moduleLoaded() && copyAttributeValue(element, attribute, value);
}

bool axIsAttributeSettable(AxRef element, const char* attribute, bool* settable) {
  return moduleLoaded() && isAttributeSettable(element, attribute, settable);
}

bool axStringValue(AxRef value, std::string* text) {
  const char* stored = moduleLoaded() ? stringValue(value) : nullptr;
  if (stored == nullptr) return false;
  *text = stored;
  return true;
}

void axRelease(AxRef ref) {
  if (ref != nullptr && ref != noModuleSystemWide && moduleLoaded()) release(ref);
}
