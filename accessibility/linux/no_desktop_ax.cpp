// The Linux build has no desktop accessibility backend yet: the process is
// never trusted and nothing is ever focused.
#include <string>

#include "accessibility/ax.h"

namespace {

// Stands for the system-wide element: distinct from nullptr, never dereferenced.
char systemWideMarker;
AxObject* const systemWideElement = reinterpret_cast<AxObject*>(&systemWideMarker);

}  // namespace

AxRef axCreateString(const char*) { return nullptr; }
AxRef axCreateTrueOptions(AxRef) { return nullptr; }
bool axIsProcessTrusted(AxRef) { return false; }

AxRef axCreateSystemWide() { return systemWideElement; }

bool axCopyAttributeValue(AxRef, const char*, AxRef* value) {
  *value = nullptr;
  return false;
}

bool axIsAttributeSettable(AxRef, const char*, bool*) { return false; }
bool axStringValue(AxRef, std::string*) { return false; }
void axRelease(AxRef) {}
