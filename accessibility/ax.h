// The accessibility services of the host platform, in the shape of the
// macOS Accessibility API: one backend per build, and a table-driven double
// for tests. Trust calls come from the main thread, focus queries from the
// reader thread.
#pragma once

#include <string>

// An element or an attribute value as the platform holds it (a CFTypeRef on
// macOS); nullptr means none. Every reference obtained from a create or copy
// call is released with axRelease.
struct AxObject;
using AxRef = AxObject*;

// A platform string made from a literal, such as an options key.
AxRef axCreateString(const char* text);
// A dictionary with the single entry key -> true.
AxRef axCreateTrueOptions(AxRef key);
// Whether the process holds accessibility trust. With options whose prompt
// entry is true, an untrusted process also asks the user; nullptr only asks.
bool axIsProcessTrusted(AxRef options);

// Runs query, one focus query from start to answer, and returns its answer.
// The macOS backend gives it an autorelease pool of its own: the reader's
// thread never returns to anything that would drain one. The others just run it.
bool axRunQuery(bool (*query)());

// The element that stands for the whole system.
AxRef axCreateSystemWide();
// Copies the attribute's value into *value (nullptr when there is none).
// Returns whether the platform answered with success.
bool axCopyAttributeValue(AxRef element, const char* attribute, AxRef* value);
// Whether the platform answered with success; *settable is written only then.
bool axIsAttributeSettable(AxRef element, const char* attribute, bool* settable);
// If value is a platform string, writes it as UTF-8 to *text and returns true.
bool axStringValue(AxRef value, std::string* text);
void axRelease(AxRef ref);

// Full Unicode lower-casing of UTF-8 text, by the platform's string library.
std::string axLowercase(const std::string& text);
