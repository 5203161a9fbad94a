#include "platform/linux/evdev_device.h"

#include <sys/ioctl.h>

#include <array>
#include <climits>
#include <cstddef>

namespace {

// The kernel's bit arrays: bit n is bit n % word size of word n / word size.
template <std::size_t bitCount>
using KernelBits = std::array<unsigned long, (bitCount + sizeof(unsigned long) * CHAR_BIT - 1) /
                                                 (sizeof(unsigned long) * CHAR_BIT)>;

template <std::size_t bitCount>
std::bitset<bitCount> toBitset(const KernelBits<bitCount>& words) {
  constexpr std::size_t wordBits = sizeof(unsigned long) * CHAR_BIT;
  std::bitset<bitCount> bits;
  for (std::size_t bit = 0; bit < bitCount; ++bit) bits[bit] = ((words[bit / wordBits] >> (bit % wordBits)) & 1UL) != 0;
  return bits;
}

template <std::size_t bitCount>
std::bitset<bitCount> askBits(int fd, unsigned long request) {
  KernelBits<bitCount> words{};
  if (ioctl(fd, request, words.data()) < 0) return {};
  return toBitset<bitCount>(words);
}

}  // namespace

EventTypeBits evdevEventTypes(int fd) { return askBits<EV_CNT>(fd, EVIOCGBIT(0, sizeof(KernelBits<EV_CNT>))); }

KeyBits evdevKeysPresent(int fd) { return askBits<KEY_CNT>(fd, EVIOCGBIT(EV_KEY, sizeof(KernelBits<KEY_CNT>))); }

KeyBits evdevKeysHeld(int fd) { return askBits<KEY_CNT>(fd, EVIOCGKEY(sizeof(KernelBits<KEY_CNT>))); }

bool evdevCapsLockLit(int fd) { return askBits<LED_CNT>(fd, EVIOCGLED(sizeof(KernelBits<LED_CNT>))).test(LED_CAPSL); }
