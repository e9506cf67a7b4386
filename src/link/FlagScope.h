#pragma once

// Sets a flag for a scope and clears it when the scope ends, however it ends: the guard of
// operations that must not run inside themselves.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : Flag(flag) { Flag = true; }
  ~TFlagScope() { Flag = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& Flag;
};
