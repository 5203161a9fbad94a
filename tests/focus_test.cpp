// The focus classifier over a table of fake elements.
#include <gtest/gtest.h>

#include "tests/case_names.h"

#include "accessibility/ax.h"
#include "accessibility/focus.h"
#include "tests/doubles/fake_ax.h"

namespace {

using Queries = std::vector<std::string>;

struct FocusCase {
  const char* name;
  FakeElement focused;
  std::string_view expected;
  Queries queries;  // empty: not checked
};

void PrintTo(const FocusCase& focusCase, std::ostream* out) { *out << focusCase.name; }

FakeElement withAttributes(std::map<std::string, FakeAnswer> attributes,
                           std::map<std::string, std::pair<bool, bool>> settable = {}) {
  return FakeElement{std::move(attributes), std::move(settable)};
}

const Queries allQueries = {"AXFocusedUIElement", "AXRole", "settable AXValue", "AXSelectedText",
                            "AXRoleDescription"};

class FocusClassifier : public testing::TestWithParam<FocusCase> {};

TEST_P(FocusClassifier, ClassifiesTheFocusedElementAndReleasesEverything) {
  const FocusCase& focusCase = GetParam();
  resetFakeAx();
  setFakeElements({withAttributes({{"AXFocusedUIElement", fakeElementRef(1)}}), focusCase.focused});
  EXPECT_EQ(checkFocus(), focusCase.expected);
  if (!focusCase.queries.empty()) {
    EXPECT_EQ(fakeAxQueries(), focusCase.queries);
  }
  EXPECT_EQ(fakeLiveReferences(), 0);
  // All of it inside one query, and so on macOS inside one autorelease pool.
  EXPECT_EQ(fakeQueriesRun(), 1);
  EXPECT_EQ(fakeElementCallsOutsideQuery(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Focus, FocusClassifier,
    testing::Values(
        FocusCase{"text field decided by its role alone",
                  withAttributes({{"AXRole", fakeString("AXTextField")}}),
                  "editable",
                  {"AXFocusedUIElement", "AXRole"}},
        FocusCase{"text area", withAttributes({{"AXRole", fakeString("AXTextArea")}}), "editable", {}},
        FocusCase{"combo box", withAttributes({{"AXRole", fakeString("AXComboBox")}}), "editable", {}},
        FocusCase{"search field", withAttributes({{"AXRole", fakeString("AXSearchField")}}), "editable", {}},
        FocusCase{"role in other case falls through to the later tests",
                  withAttributes({{"AXRole", fakeString("axtextfield")}}),
                  "none",
                  allQueries},
        FocusCase{"group with a settable value",
                  withAttributes({{"AXRole", fakeString("AXGroup")}}, {{"AXValue", {true, true}}}),
                  "editable",
                  {"AXFocusedUIElement", "AXRole", "settable AXValue"}},
        FocusCase{"settable answered with an error does not count",
                  withAttributes({{"AXRole", fakeString("AXGroup")}}, {{"AXValue", {false, true}}}),
                  "none",
                  allQueries},
        FocusCase{"empty selected text still counts",
                  withAttributes({{"AXRole", fakeString("AXWebArea")}, {"AXSelectedText", fakeString("")}}),
                  "editable",
                  {"AXFocusedUIElement", "AXRole", "settable AXValue", "AXSelectedText"}},
        FocusCase{"selected text answered without a value still counts",
                  withAttributes({{"AXSelectedText", FakeAnswer{}}}),
                  "editable",
                  {}},
        FocusCase{"role description in capitals", withAttributes({{"AXRoleDescription", fakeString("TEXT FIELD")}}),
                  "editable", allQueries},
        FocusCase{"keyword inside a longer word", withAttributes({{"AXRoleDescription", fakeString("context menu")}}),
                  "editable", {}},
        FocusCase{"edit keyword", withAttributes({{"AXRoleDescription", fakeString("Editor")}}), "editable", {}},
        FocusCase{"input keyword", withAttributes({{"AXRoleDescription", fakeString("Date INPUT")}}), "editable", {}},
        FocusCase{"description without a keyword", withAttributes({{"AXRole", fakeString("AXButton")},
                                                                   {"AXRoleDescription", fakeString("button")}}),
                  "none", allQueries},
        FocusCase{"description that is not a string", withAttributes({{"AXRoleDescription", fakeNumber()}}), "none",
                  {}},
        FocusCase{"role that is not a string, description answered with an error",
                  withAttributes({{"AXRole", fakeNumber()}, {"AXRoleDescription", FakeAnswer{false, FakeAnswer::Kind::string, "text", 0}}}),
                  "editable", {}},
        FocusCase{"nothing answers", withAttributes({}), "none", allQueries}),
    CaseName());

TEST(Focus, NoFocusedElementIsNone) {
  const std::pair<const char*, FakeAnswer> firstAnswers[] = {
      {"query fails", fakeFailure()},
      {"success without a value", FakeAnswer{}},
      {"failure that still hands back a value", FakeAnswer{false, FakeAnswer::Kind::element, {}, 1}},
  };
  for (const auto& [name, answer] : firstAnswers) {
    resetFakeAx();
    setFakeElements({withAttributes({{"AXFocusedUIElement", answer}}),
                     withAttributes({{"AXRole", fakeString("AXTextField")}})});
    EXPECT_EQ(checkFocus(), "none") << name;
    EXPECT_EQ(fakeAxQueries(), Queries{"AXFocusedUIElement"}) << name;
    EXPECT_EQ(fakeLiveReferences(), 0) << name;
  }
}

TEST(Focus, LowercasingCoversAllOfUnicode) {
  EXPECT_EQ(axLowercase("ΚΕΊΜΕΝΟ"), "κείμενο");
  EXPECT_EQ(axLowercase("ПОЛЕ ВВОДА"), "поле ввода");
  EXPECT_EQ(axLowercase("ÉDITION DE TEXTE"), "édition de texte");
  EXPECT_EQ(axLowercase(""), "");
}

}  // namespace
