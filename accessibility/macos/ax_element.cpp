// The accessibility seam on ApplicationServices. An AxRef is a CFTypeRef;
// every CF object made here for one call is released before it returns.
#include <ApplicationServices/ApplicationServices.h>

#include <chrono>
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

namespace {

// A focused application that does not answer would otherwise hold each call
// for the default messaging timeout, about 6 s, and every query queued
// behind it. The timeout set on the system-wide element is the process's
// own for every element, and setting it sends no message, so before each
// call it is set to what is left of the query's second: a query asks up to
// five questions, and an application that answers the first and then hangs
// must not stretch the answer to five seconds.
constexpr std::chrono::duration<float> queryBudget{1.0f};
// Less than this left, nothing more is asked: a timeout of 0 would mean the
// default again.
constexpr std::chrono::duration<float> leastTimeout{0.01f};

// The query under way's system-wide element, from its creation to its
// release, which end the query (the reader thread's only).
AXUIElementRef querySystemWide = nullptr;
std::chrono::steady_clock::time_point queryDeadline;

// False once the query's time is spent.
bool armMessagingTimeout() {
  if (querySystemWide == nullptr) return true;
  const std::chrono::duration<float> left = queryDeadline - std::chrono::steady_clock::now();
  if (left < leastTimeout) return false;
  AXUIElementSetMessagingTimeout(querySystemWide, left.count());
  return true;
}

}  // namespace

AxRef axCreateSystemWide() {
  AXUIElementRef systemWide = AXUIElementCreateSystemWide();
  querySystemWide = systemWide;
  queryDeadline = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(queryBudget);
  return asAx(systemWide);
}

bool axCopyAttributeValue(AxRef element, const char* attribute, AxRef* value) {
  *value = nullptr;
  const AXUIElementRef target = asElement(element);
  if (target == nullptr) return false;
  CFStringRef name = createCFString(attribute);
  if (name == nullptr) return false;
  CFTypeRef copied = nullptr;
  const AXError error =
      armMessagingTimeout() ? AXUIElementCopyAttributeValue(target, name, &copied) : kAXErrorCannotComplete;
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
  const AXError error =
      armMessagingTimeout() ? AXUIElementIsAttributeSettable(target, name, &answer) : kAXErrorCannotComplete;
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
  if (ref == nullptr) return;
  if (ref == asAx(querySystemWide)) querySystemWide = nullptr;
  CFRelease(asCF(ref));
}
