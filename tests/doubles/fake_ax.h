// An accessibility double built from a table of fake elements. It counts
// every reference it hands out, so tests can see that a query released all.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "accessibility/ax.h"

// What one attribute query answers.
struct FakeAnswer {
  enum class Kind { none, string, element, number };
  bool success = true;
  Kind kind = Kind::none;
  std::string text;  // the string, for Kind::string
  int element = 0;   // the element's index in the table, for Kind::element
};

struct FakeElement {
  std::map<std::string, FakeAnswer> attributes;  // missing: the query fails
  // Attribute -> {success, settable}; missing: the query fails.
  std::map<std::string, std::pair<bool, bool>> settable;
};

FakeAnswer fakeString(std::string text);
FakeAnswer fakeElementRef(int element);
FakeAnswer fakeNumber();
FakeAnswer fakeFailure();

// Element 0 is the system-wide element.
void setFakeElements(std::vector<FakeElement> elements);
void setFakeTrust(bool trusted);

// Every query in order, "AXRole", "settable AXValue", and so on.
const std::vector<std::string>& fakeAxQueries();
// Trust queries in order: "prompt" when asked with the prompt options,
// "quiet" without options.
const std::vector<std::string>& fakeTrustQueries();
int fakeOptionsCreated();
int fakeLiveReferences();
// Focus queries run through axRunQuery, and element calls made outside one
// (which on macOS would autorelease into a pool never drained).
int fakeQueriesRun();
int fakeElementCallsOutsideQuery();
void resetFakeAx();
