#pragma once

// Shared by the link tests and their helper program (whose benchmark starts peers of its own):
// child processes spoken to by lines, and stream blocks that carry a sequence number.

#include <windows.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/StreamHeader.h"
#include "platform/win32/Handles.h"

// The directory of this program, with a trailing backslash.
inline std::string ThisProgramDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path);
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}

// Runs this thread's messages once.
inline void PumpOnce() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// A child process whose standard input and output are pipes.
class TChild {
 public:
  TChild() = default;
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;
  ~TChild() {
    if (Process && WaitForSingleObject(Process.Get(), 0) == WAIT_TIMEOUT)
      TerminateProcess(Process.Get(), 99);
  }

  // Starts "exe args" with pipes for its standard input and output (errors go to its output).
  bool Start(const std::string& exe, const std::string& args) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &sa, 0)) return false;
    TKernelHandle childOut(outWrite);
    Out = TKernelHandle(outRead);
    if (!CreatePipe(&inRead, &inWrite, &sa, 0)) return false;
    TKernelHandle childIn(inRead);
    In = TKernelHandle(inWrite);
    SetHandleInformation(Out.Get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(In.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = childIn.Get();
    si.hStdOutput = childOut.Get();
    si.hStdError = childOut.Get();
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + exe + "\" " + args;
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
      return false;
    Process = TKernelHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    Id = pi.dwProcessId;
    return true;
  }

  bool Send(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    return WriteFile(In.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
  }

  // Everything the child wrote so far.
  const std::string& Output() {
    Drain();
    return All;
  }

  // The next whole line that starts with the prefix (earlier lines are passed over), while
  // pump runs every few milliseconds; nothing when the time runs out or the child ends first.
  std::optional<std::string> WaitLine(const std::string& prefix, DWORD timeoutMs,
                                      const std::function<void()>& pump = PumpOnce) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
      Drain();
      for (size_t eol; (eol = All.find('\n', Read)) != std::string::npos;) {
        std::string line = All.substr(Read, eol - Read);
        Read = eol + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, prefix.size(), prefix) == 0) return line;
      }
      if (GetTickCount64() >= end || Exited()) return std::nullopt;
      if (pump) pump();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
    }
  }

  // Waits for the end while pump runs; the exit code, or nothing when it did not end in time.
  std::optional<DWORD> Wait(DWORD timeoutMs, const std::function<void()>& pump = PumpOnce) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    ULONGLONG nextDrain = 0;
    while (!Exited()) {
      // Not at every message: the pipe is only read so that the child never blocks on it.
      if (GetTickCount64() >= nextDrain) {
        Drain();
        nextDrain = GetTickCount64() + 20;
      }
      if (GetTickCount64() >= end) return std::nullopt;
      if (pump) pump();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
    }
    Drain();
    DWORD code = 0;
    GetExitCodeProcess(Process.Get(), &code);
    return code;
  }

  bool Exited() const { return WaitForSingleObject(Process.Get(), 0) == WAIT_OBJECT_0; }
  DWORD ProcessId() const { return Id; }

 private:
  void Drain() {
    DWORD avail = 0;
    while (PeekNamedPipe(Out.Get(), nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
      char buf[4096];
      DWORD got = 0;
      if (!ReadFile(Out.Get(), buf, sizeof(buf), &got, nullptr) || got == 0) break;
      All.append(buf, got);
    }
  }

  TKernelHandle Process;
  TKernelHandle In;
  TKernelHandle Out;
  DWORD Id = 0;
  std::string All;
  size_t Read = 0;
};

// Fills a block of samples with a sequence number (its first two samples) and seq + i in
// sample i, so the receiver finds lost, reordered and damaged blocks.
inline void FillBlock(std::vector<int16_t>& block, int64_t seq) {
  block[0] = static_cast<int16_t>(seq & 0xFFFF);
  block[1] = static_cast<int16_t>((seq >> 16) & 0xFFFF);
  for (size_t i = 2; i < block.size(); ++i) block[i] = static_cast<int16_t>(seq + int64_t(i));
}

// The sequence number of samples filled by FillBlock, or -1 when they are not such samples.
inline int64_t SequenceOf(const int16_t* samples, size_t count) {
  if (count < 2) return -1;
  const int64_t seq =
      static_cast<uint16_t>(samples[0]) | (int64_t{static_cast<uint16_t>(samples[1])} << 16);
  for (size_t i = 2; i < count; ++i)
    if (samples[i] != static_cast<int16_t>(seq + int64_t(i))) return -1;
  return seq;
}

// Checks received stream blocks: header, content, order; counts the blocks lost between the
// first one and the last.
struct TStreamCheck {
  uint64_t Blocks = 0;
  uint64_t Bytes = 0;
  uint64_t Faults = 0;
  uint64_t Gaps = 0;
  int64_t First = -1;
  int64_t Last = -1;

  void Take(uint32_t dwData, const uint8_t* data, size_t size) {
    TStreamHeader header;
    ++Blocks;
    Bytes += size;
    if (CheckStreamBlock(dwData, data, size, header) != TBlockCheck::Ok) {
      ++Faults;
      return;
    }
    std::vector<int16_t> s((size - StreamHeaderSize) / 2);
    if (!s.empty()) std::memcpy(s.data(), data + StreamHeaderSize, s.size() * 2);
    const int64_t seq = SequenceOf(s.data(), s.size());
    if (seq <= Last) {
      ++Faults;
      return;
    }
    if (Last >= 0) Gaps += static_cast<uint64_t>(seq - Last - 1);
    if (First < 0) First = seq;
    Last = seq;
  }
};
