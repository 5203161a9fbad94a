// Event devices on the main thread's GLib context: a source per keyboard,
// and one for an inotify watch on /dev/input that hears nodes come and their
// permissions change. The devices are opened read-only and never grabbed:
// the desktop and every other program keep their input.
#include "platform/linux/evdev_monitor.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/evdev_keys.h"
#include "platform/linux/key_state.h"
#include "platform/linux/main_context.h"

namespace {

constexpr const char* inputDirectory = "/dev/input";

struct OpenDevice {
  std::string node;  // "event3"
  int fd;
  GSource* source;
};

std::vector<OpenDevice> devices;
int inotifyFd = -1;
bool watching = false;  // the watch on /dev/input is in place
char monitorMarker;

bool isEventNode(const char* name) { return std::strncmp(name, "event", 5) == 0; }

std::string nodePath(const std::string& node) { return std::string(inputDirectory) + "/" + node; }

std::vector<OpenDevice>::iterator findDevice(int fd) {
  return std::find_if(devices.begin(), devices.end(), [fd](const OpenDevice& device) { return device.fd == fd; });
}

std::vector<OpenDevice>::iterator findNode(const std::string& node) {
  return std::find_if(devices.begin(), devices.end(), [&node](const OpenDevice& device) { return device.node == node; });
}

GSource* attachFdSource(int fd, GIOCondition condition, GUnixFDSourceFunc callback) {
  GSource* source = g_unix_fd_source_new(fd, condition);
  g_source_set_callback(source, G_SOURCE_FUNC(callback), nullptr, nullptr);
  // As for the display source: no wake-ups of the loop around each dispatch.
  g_source_set_can_recurse(source, TRUE);
  // Never the global default context: that one belongs to the reader thread.
  g_source_attach(source, mainThreadContext());
  return source;
}

// Ends what a device took part in, as a release would, and lets it go.
void closeDevice(std::vector<OpenDevice>::iterator device) {
  evdevRemoveKeyboard(device->fd);
  g_source_destroy(device->source);
  g_source_unref(device->source);
  close(device->fd);
  devices.erase(device);
}

gboolean onDeviceReady(gint fd, GIOCondition condition, gpointer) {
  // A device that goes away wakes the poll with HUP and ERR, and reading it
  // gives ENODEV, never what was still queued.
  bool alive = (condition & (G_IO_HUP | G_IO_ERR)) == 0;
  if (alive && (condition & G_IO_IN) != 0) alive = evdevReadKeyboard(fd);
  if (alive) return G_SOURCE_CONTINUE;
  const auto device = findDevice(fd);
  if (device != devices.end()) closeDevice(device);
  return G_SOURCE_REMOVE;
}

void openDevice(const std::string& node) {
  // Not readable, or not yet: udev sets a node's group and ACL after the
  // kernel has made it, and the watch hears that too.
  const int fd = open(nodePath(node).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  if (!evdevIsKeyboard(fd)) {
    close(fd);
    return;
  }
  GSource* source = attachFdSource(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onDeviceReady);
  devices.push_back({node, fd, source});
  evdevAddKeyboard(fd);
}

void scanDevices() {
  DIR* directory = opendir(inputDirectory);
  if (directory == nullptr) return;
  while (const dirent* entry = readdir(directory)) {
    if (isEventNode(entry->d_name) && findNode(entry->d_name) == devices.end()) openDevice(entry->d_name);
  }
  closedir(directory);
}

void onInputDirectoryEvent(const inotify_event& event) {
  if ((event.mask & IN_Q_OVERFLOW) != 0) {
    scanDevices();
    return;
  }
  if ((event.mask & IN_IGNORED) != 0) {
    watching = false;  // the directory went; the trust poll watches it again once it is back
    return;
  }
  if (event.len == 0 || !isEventNode(event.name)) return;
  const std::string node = event.name;
  const auto device = findNode(node);
  if ((event.mask & IN_CREATE) != 0) {
    // A new node under a name still held: the old device has gone, though
    // its hang-up may not have been handled yet.
    if (device != devices.end()) closeDevice(device);
    openDevice(node);
  } else if (device == devices.end()) {
    openDevice(node);
  } else if (faccessat(AT_FDCWD, nodePath(node).c_str(), R_OK, AT_EACCESS) != 0) {
    // The permission was taken back: a seat's ACL moves to the user of the
    // session that becomes active, and the helper must not go on hearing
    // another user's keys through a descriptor opened before.
    closeDevice(device);
  }
}

gboolean onInputDirectoryChanged(gint fd, GIOCondition, gpointer) {
  alignas(inotify_event) char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) {
    for (ssize_t offset = 0; offset < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      onInputDirectoryEvent(*event);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return G_SOURCE_CONTINUE;
}

void watchInputDirectory() {
  if (inotifyFd < 0) {
    inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0) return;
    g_source_unref(attachFdSource(inotifyFd, G_IO_IN, onInputDirectoryChanged));
  }
  // Nodes made, and permissions changed. Not IN_ACCESS or IN_MODIFY: those
  // would wake the helper for every key read or light set.
  watching = inotify_add_watch(inotifyFd, inputDirectory, IN_CREATE | IN_ATTRIB | IN_ONLYDIR) >= 0;
}

}  // namespace

bool evdevKeyboardsReadable() {
  if (!watching) watchInputDirectory();
  // With the watch in place and a keyboard open this costs nothing. Without
  // a keyboard, each poll looks at every node again; without a watch (no
  // /dev/input yet, or no inotify instance left), so do hotplug and grants.
  if (!watching || devices.empty()) scanDevices();
  return !devices.empty();
}

// The mask adds nothing: key events are all the devices send that counts.
MonitorHandle evdevAddGlobalMonitor(std::uint64_t, MonitorHandler handler) {
  keyStateListen(handler);
  return reinterpret_cast<MonitorHandle>(&monitorMarker);
}
