#pragma once

#include <atomic>
#include <cstdint>

// A value one thread publishes whole and another reads whole, without either waiting: three
// copies, one being written, one handed over, one being read (a triple buffer). The reader
// always gets the latest complete value published before its read.
template <typename T>
class TSnapshot {
 public:
  explicit TSnapshot(const T& initial = T{}) {
    for (T& s : Slots) s = initial;
  }

  // Writer side: publishes a complete value.
  void Publish(const T& value) {
    Slots[Back] = value;
    const uint8_t previous =
        Middle.exchange(static_cast<uint8_t>(Back | Fresh), std::memory_order_acq_rel);
    Back = previous & Index;
  }

  // Reader side: the latest value; the same reference stays valid until the next Read.
  const T& Read() {
    if (Middle.load(std::memory_order_relaxed) & Fresh) {
      const uint8_t previous = Middle.exchange(Front, std::memory_order_acq_rel);
      Front = previous & Index;
    }
    return Slots[Front];
  }

 private:
  static constexpr uint8_t Index = 3;
  static constexpr uint8_t Fresh = 4;
  T Slots[3];
  uint8_t Back = 0;
  uint8_t Front = 1;
  std::atomic<uint8_t> Middle{2};
};
