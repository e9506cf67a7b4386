#pragma once

#include <cstdint>

// The relay's two ways out to the peer link. The session notifies the peers; the block path
// hands the chosen stream to the send queue.

// Where status notifications go (the peer transport in the program, a recorder in tests).
class TPeerNotifier {
 public:
  virtual ~TPeerNotifier() = default;
  virtual void Notify(uint16_t code) = 0;
};

// Where the chosen audio stream goes (the send queue in the program, a recorder in tests).
// Called on the relay thread; the data stays the caller's.
class TStreamSink {
 public:
  virtual ~TStreamSink() = default;
  virtual void AddSendData(const int16_t* data, int32_t size, int32_t rate) = 0;
};
