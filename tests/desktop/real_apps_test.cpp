// check-focus in the applications people use: Chromium, Firefox, LibreOffice
// Writer, and Qt 5, GTK 3 (with a VTE terminal) and GTK 4 windows, each on a
// private X server and session bus under a window manager, with the focus
// moved by the application's own means (real_app.py). "editable" exactly
// where typed text would go, "none" everywhere else.
//
// Each application starts once per suite; ctest runs one suite per
// application. Where the application is not installed its suite is skipped,
// saying what to install.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/case_names.h"
#include "tests/desktop/desktop_session.h"

namespace {

using Lines = std::vector<std::string>;

// A browser's cold start on a loaded machine, and LibreOffice's first one.
constexpr int applicationStartMs = 180000;
constexpr int focusMoveMs = 60000;

struct ApplicationSession {
  std::string application;
  std::string runtimeDirectory;
  Desktop desktop;
  HelperProcess app;  // real_app.py and, under it, the application
  HelperProcess helper;
  std::string skipReason;
  std::string failure;
};

std::string readReply(HelperProcess& child, const std::string& prefix, int timeoutMs) {
  // The helper also reports the modifiers the applications' shortcuts press.
  for (;;) {
    const Lines lines = readLines(child, 1, timeoutMs);
    if (lines.empty()) return "[no reply]";
    if (lines[0].rfind(prefix, 0) == 0) return lines[0];
  }
}

std::unique_ptr<ApplicationSession> startSession(const std::string& application) {
  auto session = std::make_unique<ApplicationSession>();
  session->application = application;
  // Its own runtime directory, where the accessibility bus, dconf and the
  // applications keep their sockets, inherited by every child from here on.
  std::string runtimeTemplate = (std::filesystem::temp_directory_path() / "ortel-apps-XXXXXX").string();
  if (mkdtemp(runtimeTemplate.data()) == nullptr) {
    session->failure = "no runtime directory";
    return session;
  }
  session->runtimeDirectory = runtimeTemplate;
  setenv("XDG_RUNTIME_DIR", session->runtimeDirectory.c_str(), 1);

  session->desktop = startDesktop();
  session->failure = session->desktop.failure;
  if (!session->failure.empty()) return session;
  const std::vector<std::string>& environment = session->desktop.environment;
  session->app = startChild("/usr/bin/python3", {ORTEL_REAL_APP, application}, environment);
  const std::string started = readReply(session->app, "", applicationStartMs);
  if (started.rfind("missing: ", 0) == 0) {
    session->skipReason = application + " cannot run here, " + started;
    return session;
  }
  if (started != "ready") {
    session->failure = application + " did not start: " + started;
    return session;
  }
  session->helper = startHelper({}, environment);
  if (readReply(session->helper, "trusted:", 5000) != "trusted:true") session->failure = "the helper is not trusted";
  return session;
}

void endSession(std::unique_ptr<ApplicationSession>& session) {
  if (session == nullptr) return;
  expectCleanEnd(session->helper);
  // Closing its input ends the application and whatever it started.
  if (session->app.input >= 0) close(session->app.input);
  session->app.input = -1;
  readLines(session->app, 1, 30000);  // until its output closes
  stopChild(session->app);
  stopDesktop(session->desktop);
  if (!session->runtimeDirectory.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(session->runtimeDirectory, ignored);
  }
  unsetenv("XDG_RUNTIME_DIR");
  session.reset();
}

std::unique_ptr<ApplicationSession> session;

struct WidgetCase {
  const char* name;  // the widget, as real_app.py names it
  const char* expected;
};

void PrintTo(const WidgetCase& widgetCase, std::ostream* out) { *out << widgetCase.name; }

class RealApplication : public testing::TestWithParam<WidgetCase> {
 protected:
  static void TearDownTestSuite() { endSession(session); }

  void SetUp() override {
    // The suite's name is the application's: "Chromium/RealApplication".
    std::string application = testing::UnitTest::GetInstance()->current_test_suite()->name();
    application = application.substr(0, application.find('/'));
    for (char& c : application) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (session == nullptr || session->application != application) {
      endSession(session);
      session = startSession(application);
    }
    if (!session->skipReason.empty()) GTEST_SKIP() << session->skipReason;
    ASSERT_EQ(session->failure, "");
  }

  std::string checkFocus() {
    if (!writeAll(session->helper.input, "check-focus\n")) return "[could not write]";
    return readReply(session->helper, "focus:", 5000);
  }

  // What AT-SPI says about the focused elements, for a failure's message.
  std::string describeFocus() {
    if (!writeAll(session->app.input, "describe\n")) return "[could not ask]";
    return readReply(session->app, "described: ", focusMoveMs);
  }
};

TEST_P(RealApplication, AnswersEditableExactlyWhereTypedTextGoes) {
  const WidgetCase& widget = GetParam();
  ASSERT_TRUE(writeAll(session->app.input, std::string("focus ") + widget.name + "\n"));
  ASSERT_EQ(readReply(session->app, "", focusMoveMs), std::string("focused ") + widget.name);
  const std::string answer = checkFocus();
  EXPECT_EQ(answer, widget.expected) << (answer == widget.expected ? "" : describeFocus());
}

constexpr const char* editable = "focus:editable";
constexpr const char* none = "focus:none";

// focus_page.html; both browsers get the same page.
const WidgetCase pageCases[] = {
    {"entry", editable},
    {"password", editable},
    {"search", editable},
    {"textarea", editable},
    {"contenteditable", editable},
    {"editablecombo", editable},  // an input with a list
    {"combo", none},              // a select
    {"button", none},
    {"checkbox", none},
    {"link", none},
    {"paragraph", none},  // focused by the script
    {"readonly", none},
    {"readonlyarea", none},
    {"nothing", none},  // the page itself
};

const WidgetCase qtCases[] = {
    {"entry", editable},
    {"password", editable},
    {"search", editable},
    {"textarea", editable},  // its viewport is FOCUSED too
    {"plaintextarea", editable},
    {"editablecombo", editable},  // the combo box and its line edit are both FOCUSED
    {"combo", none},
    {"button", none},
    {"checkbox", none},
    {"label", none},  // selectable
    {"readonly", none},
    {"readonlyarea", none},
    {"nothing", none},  // the window itself
};

// gtk_window.py, for GTK 3 and 4 alike.
const WidgetCase gtkCases[] = {
    {"entry", editable},
    {"password", editable},
    {"search", editable},
    {"textarea", editable},
    {"editablecombo", editable},
    {"combo", none},  // GTK 4: a drop-down
    {"button", none},
    {"checkbox", none},
    {"link", none},
    {"label", none},  // selectable
    {"readonly", none},
    {"readonlyarea", none},
    {"nothing", none},
};

// GTK 3's window holds a VTE terminal too: typed text goes to its child.
std::vector<WidgetCase> gtk3Cases() {
  std::vector<WidgetCase> cases(std::begin(gtkCases), std::end(gtkCases));
  cases.push_back({"terminal", editable});
  return cases;
}

// The document first: right after the start is when a panel around it is
// FOCUSED as well.
const WidgetCase writerCases[] = {
    {"document", editable},
    {"dialogfield", editable},  // Find and Replace
};

INSTANTIATE_TEST_SUITE_P(Chromium, RealApplication, testing::ValuesIn(pageCases), CaseName());
INSTANTIATE_TEST_SUITE_P(Firefox, RealApplication, testing::ValuesIn(pageCases), CaseName());
INSTANTIATE_TEST_SUITE_P(Qt, RealApplication, testing::ValuesIn(qtCases), CaseName());
INSTANTIATE_TEST_SUITE_P(Gtk4, RealApplication, testing::ValuesIn(gtkCases), CaseName());
INSTANTIATE_TEST_SUITE_P(Gtk3, RealApplication, testing::ValuesIn(gtk3Cases()), CaseName());
INSTANTIATE_TEST_SUITE_P(Writer, RealApplication, testing::ValuesIn(writerCases), CaseName());

}  // namespace
