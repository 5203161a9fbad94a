// Runs a program as another user, the way a login session would:
//   ortel_as_user UID GID GROUP,GROUP,... PROGRAM [ARGUMENT]...
// The tests inside the virtual machine run as root, which may read any
// device; the helper must run as a user for permissions to mean anything.
#include <grp.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  std::vector<gid_t> groups;
  std::istringstream list(argv[3]);
  for (std::string group; std::getline(list, group, ',');) {
    if (!group.empty()) groups.push_back(static_cast<gid_t>(std::stoul(group)));
  }
  const auto gid = static_cast<gid_t>(std::stoul(argv[2]));
  const auto uid = static_cast<uid_t>(std::stoul(argv[1]));
  if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return 126;
  execv(argv[4], argv + 4);
  return 127;
}
