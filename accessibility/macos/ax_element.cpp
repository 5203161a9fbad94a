// The accessibility seam on ApplicationServices. An AxRef is a CFTypeRef;
// every CF object made here for one call is released before it returns.
#include <ApplicationServices/ApplicationServices.h>

#include <string>

#include "accessibility/ax.h"
#include "accessibility/macos/cf_string.h"

namespace {

CFTypeRef asCF(AxRef ref) { return ref; }
AxRef asAx(CFTypeRef ref) { return static_cast<AxRef>(const_cast<void*>(ref)); }

bool hasType(AxRef ref, CFTypeID type) { return ref != nullptr && CFGetTypeID(asCF(ref)) == type; }

// A focused "element" of another kind is possible from a misbehaving
// application; it must never reach the AX calls, which expect an element.
AXUIElementRef asElement(AxRef ref) {
  return hasType(ref, AXUIElementGetTypeID()) ? static_cast<AXUIElementRef>(asCF(ref)) : nullptr;
}

}  // namespace

AxRef axCreateString(const char* text) { return asAx(createCFString(text)); }

AxRef axCreateTrueOptions(AxRef key) {
  if (key == nullptr) return nullptr;
  const void* keys[] = {asCF(key)};
  const void* values[] = {kCFBooleanTrue};
  return asAx(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                                 &kCFTypeDictionaryValueCallBacks));
}

bool axIsProcessTrusted(AxRef options) {
  const CFDictionaryRef dictionary =
      hasType(options, CFDictionaryGetTypeID()) ? static_cast<CFDictionaryRef>(asCF(options)) : nullptr;
  return AXIsProcessTrustedWithOptions(dictionary);
}

// A focused application that does not answer would otherwise hold each
// call for the default messaging timeout, about 6 s, and every query queued
// behind it. Set on the system-wide element, the timeout is the process's
// own for every element; setting it again with each query costs no message.
constexpr float messagingTimeoutSeconds = 1.0f;

AxRef axCreateSystemWide() {
  AXUIElementRef systemWide = AXUIElementCreateSystemWide();
  if (systemWide != nullptr) AXUIElementSetMessagingTimeout(systemWide, messagingTimeoutSeconds);
  return asAx(systemWide);
}

bool axCopyAttributeValue(AxRef element, const char* attribute, AxRef* value) {
  *value = nullptr;
  const AXUIElementRef target = asElement(element);
  if (target == nullptr) return false;
  CFStringRef name = createCFString(attribute);
  if (name == nullptr) return false;
  CFTypeRef copied = nullptr;
  const AXError error = AXUIElementCopyAttributeValue(target, name, &copied);
  CFRelease(name);
  // Whatever came back is handed over with the answer; the caller releases
  // it, success or not, so nothing copied is ever dropped here.
  *value = asAx(copied);
  return error == kAXErrorSuccess;
}

bool axIsAttributeSettable(AxRef element, const char* attribute, bool* settable) {
  const AXUIElementRef target = asElement(element);
  if (target == nullptr) return false;
  CFStringRef name = createCFString(attribute);
  if (name == nullptr) return false;
  Boolean answer = false;
  const AXError error = AXUIElementIsAttributeSettable(target, name, &answer);
  CFRelease(name);
  if (error != kAXErrorSuccess) return false;
  *settable = answer != false;
  return true;
}

bool axStringValue(AxRef value, std::string* text) {
  if (!hasType(value, CFStringGetTypeID())) return false;
  *text = utf8Of(static_cast<CFStringRef>(asCF(value)));
  return true;
}

void axRelease(AxRef ref) {
  if (ref != nullptr) CFRelease(asCF(ref));
}
