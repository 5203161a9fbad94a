// The helper as a parent application finds it once installed: by make
// install into an empty folder (with and without DESTDIR), through a
// symlink, and from the Debian package that make deb builds, installed into
// a scratch root and removed again. Each installed helper is driven through
// one hold and one focus query on a headless desktop; the focus answer shows
// that it found its accessibility process beside it.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/case_names.h"
#include "tests/desktop/desktop_session.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

struct CommandRun {
  int status = -1;
  std::string output;  // standard output and error together
};

// Runs a shell command in the source tree, as a user types it there. The
// outer make's job server is not this one's.
CommandRun runInSource(const std::string& command) {
  const std::string line = "cd '" ORTEL_SOURCE_DIR "' && env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL " + command + " 2>&1";
  CommandRun run;
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string shellQuoted(const std::string& text) { return "'" + text + "'"; }

// Every file and symlink under root, as paths relative to it, with "/x" after
// the executable ones; folders only show through what they hold.
std::set<std::string> filesUnder(const fs::path& root, const std::string& leaveOut = "") {
  std::set<std::string> files;
  if (!fs::exists(root)) return files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (!leaveOut.empty() && relative.rfind(leaveOut, 0) == 0) continue;
    if (entry.is_directory() && !entry.is_symlink()) continue;
    const bool executable = (fs::status(entry.path()).permissions() & fs::perms::owner_exec) != fs::perms::none;
    files.insert(relative + (executable ? "/x" : ""));
  }
  return files;
}

std::string temporaryFolder() {
  char pattern[] = "/tmp/ortel-installed-XXXXXX";
  const char* made = mkdtemp(pattern);
  return made == nullptr ? std::string() : std::string(made);
}

class Installed : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    server = new XServer(startXServer());
    bus = new BusSession(startBusSession(server->number));
    window = new HelperProcess(
        startTestWindow({displayVariable(server->number), "DBUS_SESSION_BUS_ADDRESS=" + bus->address}));
  }

  static void TearDownTestSuite() {
    stopChild(*window);
    stopBusSession(*bus);
    stopXServer(*server);
    delete window;
    delete bus;
    delete server;
  }

  void SetUp() override {
    ASSERT_GT(server->pid, 0) << "Xvfb did not start";
    ASSERT_NE(bus->address, "") << "no D-Bus session";
    ASSERT_GT(window->pid, 0) << "the test window did not become active";
    folder = temporaryFolder();
    ASSERT_NE(folder, "");
  }

  void TearDown() override { fs::remove_all(folder); }

  // One hold and one focus query, as a parent would make them.
  void expectAnswers(const std::string& path) {
    SCOPED_TRACE(path);
    HelperProcess helper =
        startChild(path, {}, {displayVariable(server->number), "DBUS_SESSION_BUS_ADDRESS=" + bus->address});
    ASSERT_EQ(readLines(helper, 4), (Lines{"ready", "debug:watching option", "trusted:true", "debug:monitor-installed"}));
    ASSERT_TRUE(focusInWindow(*window, "entry"));
    // The window joins the accessibility bus in its own time; a helper that
    // found no ortel-atspi beside it answers none for ever.
    EXPECT_TRUE(focusAnswerWithin(helper, "focus:editable", 15000)) << "no ortel-atspi found beside the helper?";
    ASSERT_TRUE(injectKeys(server->number, {"+Alt_L", "300", "-Alt_L"}));
    EXPECT_EQ(readLines(helper, 4),
              (Lines{flagsLine(524288, true, false), "option:down", flagsLine(0, false, false), "option:up"}));
    expectCleanEnd(helper);
  }

  std::string folder;
  static XServer* server;
  static BusSession* bus;
  static HelperProcess* window;
};

XServer* Installed::server = nullptr;
BusSession* Installed::bus = nullptr;
HelperProcess* Installed::window = nullptr;

const std::set<std::string> helperFiles{"libexec/ortel-helper/ortel-atspi/x", "libexec/ortel-helper/ortel-helper/x"};

struct InstallCase {
  const char* name;
  const char* prefix;       // empty: the test's empty folder itself
  bool underDestination;    // DESTDIR set to the empty folder
};

void PrintTo(const InstallCase& installCase, std::ostream* out) { *out << installCase.name; }

class MakeInstall : public Installed, public testing::WithParamInterface<InstallCase> {};

TEST_P(MakeInstall, PutsBothExecutablesTogetherAndTheHelperAnswers) {
  const InstallCase& installCase = GetParam();
  const std::string prefix = *installCase.prefix != '\0' ? installCase.prefix : folder;
  std::string command = "make install PREFIX=" + shellQuoted(prefix);
  if (installCase.underDestination) command += " DESTDIR=" + shellQuoted(folder);
  const CommandRun install = runInSource(command);
  ASSERT_EQ(install.status, 0) << install.output;

  const fs::path root = installCase.underDestination ? fs::path(folder + prefix) : fs::path(prefix);
  std::set<std::string> expected;
  const std::string below = installCase.underDestination ? fs::relative(root, folder).string() + "/" : "";
  for (const std::string& file : helperFiles) expected.insert(below + file);
  EXPECT_EQ(filesUnder(folder), expected);
  expectAnswers((root / "libexec/ortel-helper/ortel-helper").string());
}

const InstallCase installCases[] = {
    {"into an empty folder", "", false},
    {"under DESTDIR", "/opt/ortel-helper", true},
};
INSTANTIATE_TEST_SUITE_P(Cases, MakeInstall, testing::ValuesIn(installCases), CaseName());

TEST_F(Installed, ThroughASymlinkTheHelperStillFindsItsAccessibilityProcess) {
  const CommandRun install = runInSource("make install PREFIX=" + shellQuoted(folder + "/prefix"));
  ASSERT_EQ(install.status, 0) << install.output;
  fs::create_directory(folder + "/bin");
  fs::create_symlink(folder + "/prefix/libexec/ortel-helper/ortel-helper", folder + "/bin/ortel-helper");
  expectAnswers(folder + "/bin/ortel-helper");
}

// The package names of a Depends field: "a (>= 1), b | c" gives {{a, >=, 1}}, {{b}, {c}}.
struct Dependency {
  std::string package, relation, version;
};
std::vector<std::vector<Dependency>> parseDepends(const std::string& field) {
  std::vector<std::vector<Dependency>> all;
  std::stringstream entries(field);
  for (std::string entry; std::getline(entries, entry, ',');) {
    std::vector<Dependency> alternatives;
    std::stringstream choices(entry);
    for (std::string choice; std::getline(choices, choice, '|');) {
      Dependency dependency;
      std::stringstream words(choice);
      words >> dependency.package;
      std::string relation, version;
      if (words >> relation >> version) {
        dependency.relation = relation.substr(1);                  // "(>=" gives ">="
        dependency.version = version.substr(0, version.size() - 1);  // "1)" gives "1"
      }
      alternatives.push_back(dependency);
    }
    all.push_back(alternatives);
  }
  return all;
}

bool satisfiedHere(const Dependency& dependency) {
  const CommandRun installed = runInSource("dpkg-query -W -f='${db:Status-Abbrev}${Version}' " + dependency.package);
  if (installed.status != 0 || installed.output.rfind("ii ", 0) != 0) return false;
  if (dependency.relation.empty()) return true;
  const std::string version = installed.output.substr(installed.output.find_first_not_of(' ', 3));
  return runInSource("dpkg --compare-versions " + shellQuoted(version) + " " + shellQuoted(dependency.relation) + " " +
                     shellQuoted(dependency.version))
             .status == 0;
}

// The Debian package that owns the library an executable names in NEEDED.
std::string packageOfLibrary(const std::string& executable, const std::string& soname) {
  // "libc.so.6 => /lib/.../libc.so.6 (0x...)", or the loader's own "/lib64/ld-linux-x86-64.so.2 (0x...)".
  const CommandRun resolved = runInSource("ldd " + shellQuoted(executable) + " | awk -v name=" + shellQuoted(soname) +
                                          " '$1 == name && $2 == \"=>\" {print $3} $1 ~ (\"/\" name \"$\") {print $1}'");
  std::string path = resolved.output.substr(0, resolved.output.find('\n'));
  if (path.empty()) return "[not found by ldd: " + soname + "]";
  // dpkg knows a file by one of its two names under the merged /usr.
  const std::string inFolder = "*/" + fs::path(path).parent_path().filename().string() + "/" + soname;
  const CommandRun owner = runInSource("dpkg-query -S " + shellQuoted(inFolder));
  if (owner.status != 0) return "[no package owns " + path + "]";
  return owner.output.substr(0, owner.output.find_first_of(":,"));
}

TEST_F(Installed, DebianPackageInstallsRunsAndRemovesCleanly) {
  const CommandRun build = runInSource("make deb");
  ASSERT_EQ(build.status, 0) << build.output;
  std::vector<fs::path> packages;
  for (const fs::directory_entry& entry : fs::directory_iterator(ORTEL_SOURCE_DIR "/build/release/package")) {
    if (entry.path().extension() == ".deb") packages.push_back(entry.path());
  }
  ASSERT_EQ(packages.size(), 1u) << build.output;
  const std::string deb = packages[0].string();

  // Its dependencies hold on this machine, and name the package of every
  // library the two executables load.
  const CommandRun depends = runInSource("dpkg-deb -f " + shellQuoted(deb) + " Depends");
  ASSERT_EQ(depends.status, 0) << depends.output;
  std::set<std::string> named;
  for (const std::vector<Dependency>& alternatives : parseDepends(depends.output)) {
    bool satisfied = false;
    for (const Dependency& dependency : alternatives) {
      named.insert(dependency.package);
      satisfied = satisfied || satisfiedHere(dependency);
    }
    EXPECT_TRUE(satisfied) << alternatives[0].package << " " << alternatives[0].relation << " "
                           << alternatives[0].version << " does not hold here";
  }

  // A scratch root with an empty package database: dpkg installs and removes
  // there as it would in /, without touching this machine's own.
  const std::string root = folder + "/root";
  fs::create_directories(root + "/var/lib/dpkg/info");
  fs::create_directories(root + "/var/lib/dpkg/updates");
  fs::create_directories(root + "/var/lib/dpkg/triggers");
  for (const char* file : {"/var/lib/dpkg/status", "/var/lib/dpkg/available"}) {
    FILE* made = fopen((root + file).c_str(), "w");
    ASSERT_NE(made, nullptr);
    fclose(made);
  }
  // The dependencies were checked against this machine above; the scratch
  // database knows of no package at all.
  const CommandRun install = runInSource("dpkg --root=" + shellQuoted(root) + " --force-depends -i " + shellQuoted(deb));
  ASSERT_EQ(install.status, 0) << install.output;
  std::set<std::string> expected;
  for (const std::string& file : helperFiles) expected.insert("usr/" + file);
  EXPECT_EQ(filesUnder(root, "var/lib/dpkg"), expected);

  for (const char* executable : {"ortel-helper", "ortel-atspi"}) {
    const std::string path = root + "/usr/libexec/ortel-helper/" + executable;
    const CommandRun needed = runInSource("objdump -p " + shellQuoted(path) + " | awk '$1 == \"NEEDED\" {print $2}'");
    ASSERT_EQ(needed.status, 0) << needed.output;
    std::stringstream sonames(needed.output);
    for (std::string soname; std::getline(sonames, soname);) {
      const std::string package = packageOfLibrary(path, soname);
      EXPECT_EQ(named.count(package), 1u) << executable << " loads " << soname << " from " << package
                                          << ", which Depends does not name: " << depends.output;
    }
  }

  expectAnswers(root + "/usr/libexec/ortel-helper/ortel-helper");

  const CommandRun remove = runInSource("dpkg --root=" + shellQuoted(root) + " -r ortel-helper");
  ASSERT_EQ(remove.status, 0) << remove.output;
  EXPECT_EQ(filesUnder(root, "var/lib/dpkg"), std::set<std::string>{});
  for (const fs::directory_entry& entry : fs::directory_iterator(root + "/var/lib/dpkg/info")) {
    EXPECT_NE(entry.path().stem(), "ortel-helper") << "dpkg still keeps " << entry.path();
  }
  EXPECT_NE(runInSource("dpkg-query --root=" + shellQuoted(root) + " -W ortel-helper").status, 0);
}

}  // namespace
