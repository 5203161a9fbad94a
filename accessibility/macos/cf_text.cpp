#include <string>

#include "accessibility/ax.h"
#include "accessibility/macos/cf_string.h"

CFStringRef createCFString(std::string_view utf8) {
  return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                                 static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false);
}

std::string utf8Of(CFStringRef string) {
  const CFRange whole = CFRangeMake(0, CFStringGetLength(string));
  // A lone surrogate has no UTF-8 form; '?' stands in for it so that the
  // rest of the string still comes through.
  const UInt8 lossByte = '?';
  CFIndex byteCount = 0;
  CFStringGetBytes(string, whole, kCFStringEncodingUTF8, lossByte, false, nullptr, 0, &byteCount);
  std::string text(static_cast<std::size_t>(byteCount), '\0');
  CFStringGetBytes(string, whole, kCFStringEncodingUTF8, lossByte, false, reinterpret_cast<UInt8*>(text.data()),
                   byteCount, &byteCount);
  text.resize(static_cast<std::size_t>(byteCount));
  return text;
}

std::string axLowercase(const std::string& text) {
  CFStringRef string = createCFString(text);
  if (string == nullptr) {
    // Not UTF-8, so it never came from a platform string: lower-case what
    // is plainly ASCII and leave every other byte as it is.
    std::string lowered = text;
    for (char& c : lowered) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
  }
  CFMutableStringRef mutableCopy = CFStringCreateMutableCopy(kCFAllocatorDefault, 0, string);
  CFRelease(string);
  // No locale: the full Unicode mapping, the same on every machine.
  CFStringLowercase(mutableCopy, nullptr);
  std::string lowered = utf8Of(mutableCopy);
  CFRelease(mutableCopy);
  return lowered;
}
