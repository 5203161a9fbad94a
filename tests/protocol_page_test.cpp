// docs/protocol.md, the page parent authors go by, against the code: every
// line the helper writes matches a form in the page's table of lines, and
// every text of the line catalogue appears there.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "accessibility/focus.h"
#include "protocol/lines.h"

namespace {

std::string readFile(const char* path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The page's section under the given heading, up to the next one.
std::string section(const std::string& page, const std::string& heading) {
  const std::size_t start = page.find("\n## " + heading + "\n");
  if (start == std::string::npos) return {};
  const std::size_t end = page.find("\n## ", start + 1);
  return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The line forms of the table of lines: the code span that begins each of
// its rows, with NAME, N, B and REASON standing for their values.
std::vector<std::regex> lineForms(const std::string& lines) {
  std::vector<std::regex> forms;
  std::stringstream rows(lines);
  for (std::string row; std::getline(rows, row);) {
    if (row.rfind("| `", 0) != 0) continue;
    const std::size_t end = row.find('`', 3);
    std::string form;
    for (char c : row.substr(3, end - 3)) {
      if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) form += '\\';
      form += c;
    }
    for (const auto& [placeholder, pattern] :
         {std::pair{"NAME", ".*"}, {"REASON", ".+"}, {"N", "[0-9]+"}, {"B", "(true|false)"}}) {
      form = std::regex_replace(form, std::regex(std::string("\\b") + placeholder + "\\b"), pattern);
    }
    forms.emplace_back(form);
  }
  return forms;
}

TEST(ProtocolPage, EveryLineTheHelperWritesHasItsFormInTheTable) {
  const std::vector<std::regex> forms = lineForms(section(readFile(ORTEL_PROTOCOL_PAGE), "The lines it writes"));
  ASSERT_FALSE(forms.empty()) << ORTEL_PROTOCOL_PAGE << " has no table of lines";
  const std::string name = "option";
  const std::vector<std::string> written = {
      std::string(lineReady),
      std::string(lineWatchingPrefix) + name,
      std::string(lineTrustedTrue),
      std::string(lineTrustedFalse),
      std::string(lineMonitorInstalled),
      std::string(lineMonitorInstallFailed),
      std::string(lineFlagsChangedPrefix) + "524288" + std::string(lineWatchedField) + "true" +
          std::string(lineOthersField) + "false",
      name + std::string(lineDownSuffix),
      name + std::string(lineUpSuffix),
      std::string(lineFocusPrefix) + std::string(focusEditable),
      std::string(lineFocusPrefix) + std::string(focusNone),
  };
  for (const std::string& line : written) {
    bool described = false;
    for (const std::regex& form : forms) described = described || std::regex_match(line, form);
    EXPECT_TRUE(described) << "docs/protocol.md does not show the line " << line;
  }
}

// A text added to the catalogue shows up here even before a test writes its line.
TEST(ProtocolPage, EveryTextOfTheLineCatalogueIsOnThePage) {
  const std::string page = readFile(ORTEL_PROTOCOL_PAGE);
  const std::string catalogue = readFile(ORTEL_LINE_CATALOGUE);
  const std::regex literal("\"([^\"]*)\"");
  int texts = 0;
  for (auto match = std::sregex_iterator(catalogue.begin(), catalogue.end(), literal);
       match != std::sregex_iterator(); ++match, ++texts) {
    const std::string text = (*match)[1];
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
    while (!trimmed.empty() && trimmed.front() == ' ') trimmed.erase(0, 1);
    EXPECT_NE(page.find(trimmed), std::string::npos) << "docs/protocol.md never mentions \"" << text << "\"";
  }
  EXPECT_GT(texts, 0) << ORTEL_LINE_CATALOGUE << " holds no texts";
}

}  // namespace
