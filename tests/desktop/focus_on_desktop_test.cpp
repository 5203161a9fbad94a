// Focus queries against a real GTK window over a real accessibility bus.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <vector>

#include "tests/case_names.h"
#include "tests/desktop/desktop_session.h"

namespace {

using Lines = std::vector<std::string>;

class FocusOnDesktop : public testing::Test {
 protected:
  void SetUp() override {
    desktop = startDesktop();
    ASSERT_EQ(desktop.failure, "");
    window = startTestWindow(desktop.environment);
    ASSERT_GT(window.pid, 0) << "the test window did not become active";
    helper = startHelper({}, desktop.environment);
    ASSERT_EQ(readLines(helper, 4), openingLines(true));
    // The window registers with the accessibility bus in its own time: wait
    // until the helper sees its focused entry, so no later "none" can come
    // from a window that is not there yet.
    ASSERT_TRUE(focusInWindow(window, "entry"));
    ASSERT_TRUE(waitForEditable()) << "the helper never saw the window's entry";
  }

  void TearDown() override {
    expectCleanEnd(helper);
    stopChild(window);
    stopDesktop(desktop);
  }

  std::string checkFocus(int timeoutMs = 5000) { return askFocus(helper, timeoutMs); }

  bool waitForEditable() { return focusAnswerWithin(helper, "focus:editable", 15000); }

  Desktop desktop;
  HelperProcess window;
  HelperProcess helper;
};

struct FocusCase {
  const char* name;
  const char* widget;  // the test window's name for it
  const char* expected;
};

void PrintTo(const FocusCase& focusCase, std::ostream* out) { *out << focusCase.name; }

const FocusCase focusCases[] = {
    {"entry", "entry", "focus:editable"},
    {"text view", "textview", "focus:editable"},
    {"password entry", "password", "focus:editable"},
    {"button", "button", "focus:none"},
    // Selectable, so it takes focus and has text to select, but no typing.
    {"label", "label", "focus:none"},
    {"nothing focused", "nothing", "focus:none"},
};

class FocusedWidget : public FocusOnDesktop, public testing::WithParamInterface<FocusCase> {};

TEST_P(FocusedWidget, IsClassified) {
  const FocusCase& focusCase = GetParam();
  ASSERT_TRUE(focusInWindow(window, focusCase.widget));
  EXPECT_EQ(checkFocus(), focusCase.expected);
}

INSTANTIATE_TEST_SUITE_P(Widgets, FocusedWidget, testing::ValuesIn(focusCases), CaseName());

TEST_F(FocusOnDesktop, StoppedApplicationGetsNoneWithinOneAndAHalfSeconds) {
  kill(window.pid, SIGSTOP);
  EXPECT_EQ(checkFocus(1500), "focus:none");
  kill(window.pid, SIGCONT);
  // And the window is heard again once it answers.
  EXPECT_TRUE(waitForEditable());
}

// The helper keeps the window it last found the focus in; the answer must
// still follow the focus to another application and back.
TEST_F(FocusOnDesktop, AnswerFollowsTheFocusToAnotherApplication) {
  ASSERT_TRUE(focusInWindow(window, "button"));
  ASSERT_EQ(checkFocus(), "focus:none");
  HelperProcess other = startTestWindow(desktop.environment);
  ASSERT_GT(other.pid, 0) << "the second window did not become active";
  ASSERT_TRUE(awaitInactive(window));
  ASSERT_TRUE(focusInWindow(other, "textview"));
  // The second application registers with the accessibility bus in its own time.
  EXPECT_TRUE(waitForEditable()) << "the answer stayed with the first window";

  ASSERT_TRUE(activateWindow(window));
  ASSERT_TRUE(awaitInactive(other));
  EXPECT_EQ(checkFocus(), "focus:none");
  ASSERT_TRUE(activateWindow(other));
  ASSERT_TRUE(awaitInactive(window));
  EXPECT_EQ(checkFocus(), "focus:editable");
  stopChild(other);
}

}  // namespace
