// The processes of a test session's accessibility stack, and the helper's
// own accessibility process, found for the tests that stop, kill and
// measure them.
#pragma once

#include <sys/types.h>

#include <string>

// The session's accessibility bus, as its launcher gives it (starting the
// launcher if need be); empty when there is none.
std::string accessibilityBusAddress(const std::string& sessionBusAddress);
// The process that owns name on the bus at busAddress ("org.freedesktop.DBus"
// is the bus itself); -1 when none does or the bus does not answer.
pid_t busNameOwner(const std::string& busAddress, const std::string& name);
// The helper's accessibility process, ortel-atspi; -1 while it has none.
pid_t accessibilityProcessOf(pid_t helper);
// How often the process's main thread has gone to sleep and been woken
// (its voluntary context switches).
long wakeUps(pid_t pid);
// Gone, or a zombie that nobody has reaped yet.
bool hasEnded(pid_t pid);
