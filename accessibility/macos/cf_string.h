// UTF-8 to and from CoreFoundation strings, for the macOS accessibility backend.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <string_view>

// A new CFString of the UTF-8 text, or nullptr when the bytes are not UTF-8.
CFStringRef createCFString(std::string_view utf8);
// The whole string as UTF-8, however long.
std::string utf8Of(CFStringRef string);
