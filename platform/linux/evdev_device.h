// What the kernel tells about an event device through its ioctls. The key
// state logic asks only through here, so that its tests can answer from a
// table while they feed it records through pipes. Each answer is empty when
// the device does not answer (it has gone, say).
#pragma once

#include <linux/input.h>

#include <bitset>

using EventTypeBits = std::bitset<EV_CNT>;
using KeyBits = std::bitset<KEY_CNT>;

// EVIOCGBIT(0): the kinds of event the device sends.
EventTypeBits evdevEventTypes(int fd);
// EVIOCGBIT(EV_KEY): the keys it has.
KeyBits evdevKeysPresent(int fd);
// EVIOCGKEY: the keys held now. The kernel also drops every key event still
// queued for this descriptor, so only ask once the queue has been read.
KeyBits evdevKeysHeld(int fd);
// EVIOCGLED: whether its Caps Lock light is on. Drops the queued light
// events the same way.
bool evdevCapsLockLit(int fd);
