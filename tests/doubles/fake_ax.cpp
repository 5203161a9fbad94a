#include "tests/doubles/fake_ax.h"

#include <mutex>

// The fake's objects: a string, an element of the table or an options dictionary.
struct AxObject {
  FakeAnswer::Kind kind;
  std::string text;
  int element;
  bool isPromptOptions;
};

namespace {

std::vector<FakeElement> elements;
std::vector<std::string> queries;
std::vector<std::string> trustQueries;
bool processTrusted = false;
int optionsCreated = 0;
int liveReferences = 0;
int queriesRun = 0;
bool inQuery = false;
int elementCallsOutsideQuery = 0;
// Focus queries may come from a reader thread while a test inspects.
std::mutex fakeLock;

// Called with the lock held, by every element call.
void noteElementCall() {
  if (!inQuery) ++elementCallsOutsideQuery;
}

AxRef makeObject(FakeAnswer::Kind kind, std::string text, int element, bool isPromptOptions) {
  ++liveReferences;
  return new AxObject{kind, std::move(text), element, isPromptOptions};
}

}  // namespace

FakeAnswer fakeString(std::string text) {
  return FakeAnswer{true, FakeAnswer::Kind::string, std::move(text), 0};
}
FakeAnswer fakeElementRef(int element) { return FakeAnswer{true, FakeAnswer::Kind::element, {}, element}; }
FakeAnswer fakeNumber() { return FakeAnswer{true, FakeAnswer::Kind::number, {}, 0}; }
FakeAnswer fakeFailure() { return FakeAnswer{false, FakeAnswer::Kind::none, {}, 0}; }

void setFakeElements(std::vector<FakeElement> table) {
  const std::lock_guard<std::mutex> hold(fakeLock);
  elements = std::move(table);
}

void setFakeTrust(bool trusted) { processTrusted = trusted; }

const std::vector<std::string>& fakeAxQueries() { return queries; }
const std::vector<std::string>& fakeTrustQueries() { return trustQueries; }
int fakeOptionsCreated() { return optionsCreated; }
int fakeLiveReferences() {
  const std::lock_guard<std::mutex> hold(fakeLock);
  return liveReferences;
}
int fakeQueriesRun() {
  const std::lock_guard<std::mutex> hold(fakeLock);
  return queriesRun;
}
int fakeElementCallsOutsideQuery() {
  const std::lock_guard<std::mutex> hold(fakeLock);
  return elementCallsOutsideQuery;
}

void resetFakeAx() {
  const std::lock_guard<std::mutex> hold(fakeLock);
  elements.clear();
  queries.clear();
  trustQueries.clear();
  processTrusted = false;
  optionsCreated = 0;
  liveReferences = 0;
  queriesRun = 0;
  inQuery = false;
  elementCallsOutsideQuery = 0;
}

AxRef axCreateString(const char* text) { return makeObject(FakeAnswer::Kind::string, text, 0, false); }

AxRef axCreateTrueOptions(AxRef key) {
  ++optionsCreated;
  const bool prompts = key != nullptr && key->kind == FakeAnswer::Kind::string &&
                       key->text == "AXTrustedCheckOptionPrompt";
  return makeObject(FakeAnswer::Kind::none, {}, 0, prompts);
}

bool axIsProcessTrusted(AxRef options) {
  trustQueries.push_back(options == nullptr ? "quiet" : options->isPromptOptions ? "prompt" : "other");
  return processTrusted;
}

bool axRunQuery(bool (*query)()) {
  {
    const std::lock_guard<std::mutex> hold(fakeLock);
    ++queriesRun;
    inQuery = true;
  }
  const bool answer = query();
  const std::lock_guard<std::mutex> hold(fakeLock);
  inQuery = false;
  return answer;
}

AxRef axCreateSystemWide() {
  const std::lock_guard<std::mutex> hold(fakeLock);
  noteElementCall();
  return makeObject(FakeAnswer::Kind::element, {}, 0, false);
}

bool axCopyAttributeValue(AxRef element, const char* attribute, AxRef* value) {
  const std::lock_guard<std::mutex> hold(fakeLock);
  noteElementCall();
  queries.push_back(attribute);
  *value = nullptr;
  if (element == nullptr || element->kind != FakeAnswer::Kind::element) return false;
  if (element->element < 0 || element->element >= static_cast<int>(elements.size())) return false;
  const auto& attributes = elements[static_cast<std::size_t>(element->element)].attributes;
  const auto found = attributes.find(attribute);
  if (found == attributes.end()) return false;
  const FakeAnswer& answer = found->second;
  if (answer.kind != FakeAnswer::Kind::none) *value = makeObject(answer.kind, answer.text, answer.element, false);
  return answer.success;
}

bool axIsAttributeSettable(AxRef element, const char* attribute, bool* settable) {
  const std::lock_guard<std::mutex> hold(fakeLock);
  noteElementCall();
  queries.push_back(std::string("settable ") + attribute);
  if (element == nullptr || element->kind != FakeAnswer::Kind::element) return false;
  const auto& table = elements[static_cast<std::size_t>(element->element)].settable;
  const auto found = table.find(attribute);
  if (found == table.end()) return false;
  if (found->second.first) *settable = found->second.second;
  return found->second.first;
}

bool axStringValue(AxRef value, std::string* text) {
  if (value == nullptr || value->kind != FakeAnswer::Kind::string) return false;
  *text = value->text;
  return true;
}

void axRelease(AxRef ref) {
  const std::lock_guard<std::mutex> hold(fakeLock);
  --liveReferences;
  delete ref;
}
