// link-peer: the other process of the link tests and the link benchmark.
//
//   link-peer sink HWND        a controlling program's window; commands on standard input, one
//                              a line: hello, bye, query, notes, stats, reset, hang, slow MS,
//                              close, quit; each is answered with one line on standard output.
//                              hang: every later message takes 30 s; slow MS: every later stream
//                              block takes MS milliseconds
//   link-peer flood HWND N     sends N commands, announcements, queries, withdrawals, unknown
//                              codes and data blocks to HWND as fast as they are answered
//   link-peer ping HWND        asks HWND for its program ID every 20 ms until a line "stop"
//                              comes on standard input, then prints how long answers took
//   link-peer bench [--peers N] [--block BYTES] [--seconds S] [--paced S] [--rate BLOCKS]
//                              starts N sinks and measures how many stream blocks the
//                              transport delivers to them per second, flat out and at a
//                              relay's rate (default 4 peers, 880 bytes, 3 s, 10 s, 200/s)
//
// Stream blocks carry a sequence number in their first two samples and seq + i in sample i, so
// a sink finds lost, reordered and damaged blocks.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/Interactive.h"
#include "link/SenderArea.h"
#include "link/StreamHeader.h"
#include "platform/win32/PeerLink.h"
#include "win/link/LinkKit.h"

namespace {

void Say(const char* format, auto... values) {
  std::printf(format, values...);
  std::printf("\n");
  std::fflush(stdout);
}

HWND ParseHwnd(const char* text) {
  return reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(text, nullptr, 0)));
}

// Lines of standard input, read on a thread of their own and handed to the window's thread.
// The reading thread shares the lines with this object and may outlive it.
class TInputLines {
 public:
  explicit TInputLines(DWORD thread) : Shared(std::make_shared<TShared>()) {
    std::thread([shared = Shared, thread] {
      char line[256];
      while (std::fgets(line, sizeof(line), stdin)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        shared->Push(text);
        PostThreadMessageA(thread, WM_NULL, 0, 0);
      }
      shared->Push("quit");
      PostThreadMessageA(thread, WM_NULL, 0, 0);
    }).detach();
  }
  bool Take(std::string& line) {
    std::lock_guard<std::mutex> lock(Shared->Lock);
    if (Shared->Lines.empty()) return false;
    line = Shared->Lines.front();
    Shared->Lines.pop_front();
    return true;
  }

 private:
  struct TShared {
    std::mutex Lock;
    std::deque<std::string> Lines;
    void Push(const std::string& line) {
      std::lock_guard<std::mutex> lock(Lock);
      Lines.push_back(line);
    }
  };
  std::shared_ptr<TShared> Shared;
};

int Sink(HWND target) {
  std::vector<uint16_t> notes;
  TStreamCheck stream;
  bool inHello = false;
  int helloAnswer = -1;
  bool hanging = false;
  DWORD slowMs = 0;
  TLinkWindow window("KestruneLinkPeer", [&](UINT msg, WPARAM, LPARAM lParam, LRESULT& result) {
    if (msg == WM_WINMSG) {
      const uint16_t code = CodeOf(static_cast<uint32_t>(lParam));
      notes.push_back(code);
      if (inHello) helloAnswer = code;
      if (hanging) Sleep(30000);
      result = 0;
      return true;
    }
    if (msg == WM_COPYDATA) {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      stream.Take(static_cast<uint32_t>(cds->dwData), static_cast<const uint8_t*>(cds->lpData),
                  cds->cbData);
      if (hanging) Sleep(30000);
      if (slowMs) Sleep(slowMs);
      result = TRUE;
      return true;
    }
    return false;
  });
  if (!window) return 1;
  const WPARAM own = reinterpret_cast<WPARAM>(window.Handle());
  Say("window 0x%llx", static_cast<unsigned long long>(own));
  auto send = [&](uint16_t parameter, DWORD_PTR& result) {
    return SendMessageTimeoutA(target, WM_WINMSG, own, PackParam(ctlCode, parameter), SMTO_NORMAL,
                               5000, &result) != 0;
  };

  TInputLines input(GetCurrentThreadId());
  for (;;) {
    PumpOnce();
    std::string line;
    while (input.Take(line)) {
      DWORD_PTR result = 0;
      if (line == "hello") {
        inHello = true;
        helloAnswer = -1;
        const bool ok = send(ctlHello, result);
        inHello = false;
        Say("hello ok=%d answer=0x%04x", ok ? 1 : 0, helloAnswer < 0 ? 0xFFFF : helloAnswer);
      } else if (line == "bye") {
        Say("bye ok=%d", send(ctlBye, result) ? 1 : 0);
      } else if (line == "query") {
        const bool ok = send(ctlQueryId, result);
        Say("query ok=%d id=%lld", ok ? 1 : 0,
            static_cast<long long>(static_cast<LRESULT>(result)));
      } else if (line == "notes") {
        std::string list;
        for (uint16_t n : notes) {
          if (!list.empty()) list += ',';
          list += std::to_string(n);
        }
        Say("notes %zu %s", notes.size(), list.c_str());
      } else if (line == "stats") {
        Say("stats blocks=%llu bytes=%llu faults=%llu gaps=%llu first=%lld last=%lld",
            static_cast<unsigned long long>(stream.Blocks),
            static_cast<unsigned long long>(stream.Bytes),
            static_cast<unsigned long long>(stream.Faults),
            static_cast<unsigned long long>(stream.Gaps), static_cast<long long>(stream.First),
            static_cast<long long>(stream.Last));
      } else if (line == "reset") {
        stream = TStreamCheck{};
        notes.clear();
        Say("reset");
      } else if (line == "hang") {
        hanging = true;
        Say("hanging");
      } else if (line.rfind("slow ", 0) == 0) {
        slowMs = static_cast<DWORD>(std::strtoul(line.c_str() + 5, nullptr, 10));
        Say("slow %lu", static_cast<unsigned long>(slowMs));
      } else if (line == "close") {
        window.Destroy();
        Say("closed");
      } else if (line == "quit") {
        return 0;
      } else {
        Say("unknown %s", line.c_str());
      }
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

int Flood(HWND target, long count) {
  TLinkWindow window("KestruneLinkFlood", [](UINT msg, WPARAM, LPARAM, LRESULT& result) {
    if (msg != WM_WINMSG) return false;
    result = 0;
    return true;
  });
  if (!window) return 1;
  const WPARAM own = reinterpret_cast<WPARAM>(window.Handle());
  uint8_t junk[64] = {1, 2, 3};
  COPYDATASTRUCT cds{0, sizeof(junk), junk};
  const uint32_t messages[] = {PackParam(ctlCode, ctlHello),   PackParam(cmdVolume, 55),
                               PackParam(ctlCode, ctlQueryId), PackParam(cmdFadeIn, 0),
                               PackParam(ctlCode, ctlBye),     PackParam(9, 2),
                               PackParam(cmdFadeOut, 0)};
  long failed = 0;
  const ULONGLONG start = GetTickCount64();
  for (long i = 0; i < count; ++i) {
    DWORD_PTR result = 0;
    const size_t kind = static_cast<size_t>(i) % 8;
    const LRESULT ok =
        kind == 7 ? SendMessageTimeoutA(target, WM_COPYDATA, own, reinterpret_cast<LPARAM>(&cds),
                                        SMTO_NORMAL, 5000, &result)
                  : SendMessageTimeoutA(target, WM_WINMSG, own, messages[kind], SMTO_NORMAL, 5000,
                                        &result);
    if (!ok) ++failed;
  }
  Say("flood sent=%ld failed=%ld ms=%llu", count, failed,
      static_cast<unsigned long long>(GetTickCount64() - start));
  return failed ? 1 : 0;
}

int Ping(HWND target) {
  TInputLines input(GetCurrentThreadId());
  long asked = 0;
  long unanswered = 0;
  ULONGLONG slowest = 0;
  ULONGLONG slowestAt = 0;
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    std::string line;
    if (input.Take(line) && (line == "stop" || line == "quit")) break;
    const ULONGLONG t0 = GetTickCount64();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(target, WM_WINMSG, 0, PackParam(ctlCode, ctlQueryId), SMTO_NORMAL,
                             5000, &result))
      ++unanswered;
    const ULONGLONG took = GetTickCount64() - t0;
    if (took > slowest) {
      slowest = took;
      slowestAt = t0 - start;
    }
    ++asked;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    PumpOnce();
  }
  Say("ping asked=%ld unanswered=%ld slowest-ms=%llu at-ms=%llu", asked, unanswered,
      static_cast<unsigned long long>(slowest), static_cast<unsigned long long>(slowestAt));
  return 0;
}

// The sending side of the benchmark: always in interactive mode, silent never.
class TBenchTarget : public TInteractiveTarget {
 public:
  void RunPlay(bool) override {}
  void StopPlay(bool) override {}
  void FadeIn() override {}
  void FadeOut() override {}
  void SetInsideVolume(int32_t) override {}
  bool SilenceFlag() const override { return false; }
  int32_t PID() const override { return 1; }
  bool SourceMode() const override { return true; }
};

long Option(int argc, char** argv, const char* name, long otherwise) {
  for (int i = 2; i + 1 < argc; ++i)
    if (std::string(argv[i]) == name) return std::strtol(argv[i + 1], nullptr, 10);
  return otherwise;
}

int Bench(int argc, char** argv) {
  const long peers = Option(argc, argv, "--peers", 4);
  const long blockBytes = Option(argc, argv, "--block", 880) / 4 * 4;
  const long flatSeconds = Option(argc, argv, "--seconds", 3);
  const long pacedSeconds = Option(argc, argv, "--paced", 10);
  const long rate = Option(argc, argv, "--rate", 200);

  TWin32Desktop desktop;
  TBenchTarget target;
  std::unique_ptr<TInteractiveMode> mode;
  TLinkWindow window("KestruneLinkBench", [&](UINT msg, WPARAM w, LPARAM l, LRESULT& result) {
    return mode && HandlePeerMessage(*mode, msg, w, l, result);
  });
  TWinMSG link(desktop, AsWnd(window.Handle()));
  mode = std::make_unique<TInteractiveMode>(link, target, [](std::function<void()>) {});
  TSenderArea area(link, SystemClock());

  std::vector<std::unique_ptr<TChild>> sinks;
  const std::string exe = ThisProgramDir() + "link-peer.exe";
  for (long i = 0; i < peers; ++i) {
    auto child = std::make_unique<TChild>();
    if (!child->Start(exe, "sink " + std::to_string(reinterpret_cast<UINT_PTR>(window.Handle()))) ||
        !child->WaitLine("window", 10000) || !child->Send("hello") ||
        !child->WaitLine("hello ok=1", 10000)) {
      Say("bench cannot start sink %ld", i);
      return 1;
    }
    sinks.push_back(std::move(child));
  }
  const ULONGLONG confirmBy = GetTickCount64() + 2000;
  while (link.Peers().size() < static_cast<size_t>(peers) && GetTickCount64() < confirmBy) {
    link.ScanPeers();
    PumpOnce();
    Sleep(10);
  }
  if (link.Peers().size() != static_cast<size_t>(peers)) {
    Say("bench only %zu of %ld peers confirmed", link.Peers().size(), peers);
    return 1;
  }
  auto stats = [&](const char* phase) {
    for (size_t i = 0; i < sinks.size(); ++i) {
      sinks[i]->Send("stats");
      const auto line = sinks[i]->WaitLine("stats", 10000);
      Say("bench %s peer %zu %s", phase, i, line ? line->c_str() : "(no answer)");
      sinks[i]->Send("reset");
      sinks[i]->WaitLine("reset", 10000);
    }
  };

  std::vector<int16_t> block(static_cast<size_t>(blockBytes) / 2);
  int64_t seq = 0;
  // Flat out: the queue is kept full and emptied as fast as the peers take the blocks.
  if (flatSeconds > 0) {
    area.SendBudgetMs = 1000;
    const uint64_t sentBefore = area.SentBlocks();
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < static_cast<ULONGLONG>(flatSeconds) * 1000) {
      while (!area.SlotOccupied(area.WritePos())) {
        FillBlock(block, seq++);
        area.AddSendData(block.data(), static_cast<int32_t>(blockBytes), 44100);
      }
      area.SendMemory();
      PumpOnce();
    }
    while (area.SlotOccupied(area.ReadPos())) area.SendMemory();
    const double seconds = double(GetTickCount64() - start) / 1000.0;
    const double blocks = double(area.SentBlocks() - sentBefore);
    Say("bench flat peers=%ld block=%ld blocks/s=%.0f deliveries/s=%.0f MB/s=%.2f "
        "unanswered-drops=%llu",
        peers, blockBytes, blocks / seconds, blocks * double(peers) / seconds,
        blocks * double(peers) * double(blockBytes + StreamHeaderSize) / seconds / 1e6,
        static_cast<unsigned long long>(link.UnansweredDrops()));
    stats("flat");
  }

  // At the relay's pace: a thread queues the blocks as the relay thread would (every 10 ms what
  // is due), the main loop sends every 10 ms as the display tick does.
  if (pacedSeconds > 0) {
    area.SendBudgetMs = 50;
    const uint64_t droppedBefore = area.DroppedBlocks();
    std::atomic<bool> stop{false};
    std::atomic<int64_t> produced{0};
    const int64_t first = seq;
    std::thread relay([&] {
      std::vector<int16_t> b(block.size());
      const ULONGLONG start = GetTickCount64();
      int64_t n = 0;
      while (!stop) {
        const int64_t due = int64_t(GetTickCount64() - start) * rate / 1000;
        for (; n < due; ++n) {
          FillBlock(b, first + n);
          area.AddSendData(b.data(), static_cast<int32_t>(blockBytes), 44100);
        }
        produced = n;
        Sleep(10);
      }
    });
    const ULONGLONG start = GetTickCount64();
    ULONGLONG nextScan = start + 100;
    ULONGLONG worstTick = 0;
    while (GetTickCount64() - start < static_cast<ULONGLONG>(pacedSeconds) * 1000) {
      const ULONGLONG t0 = GetTickCount64();
      area.SendMemory();
      if (t0 >= nextScan) {
        link.ScanPeers();
        nextScan = t0 + 100;
      }
      PumpOnce();
      worstTick = std::max<ULONGLONG>(worstTick, GetTickCount64() - t0);
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    stop = true;
    relay.join();
    while (area.SlotOccupied(area.ReadPos())) area.SendMemory();
    Say("bench paced peers=%ld block=%ld rate=%ld produced=%lld dropped-at-queue=%llu "
        "longest-tick-ms=%llu",
        peers, blockBytes, rate, static_cast<long long>(produced.load()),
        static_cast<unsigned long long>(area.DroppedBlocks() - droppedBefore),
        static_cast<unsigned long long>(worstTick));
    stats("paced");
  }
  for (auto& s : sinks) s->Send("quit");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "sink" && argc == 3) return Sink(ParseHwnd(argv[2]));
  if (mode == "flood" && argc == 4)
    return Flood(ParseHwnd(argv[2]), std::strtol(argv[3], nullptr, 10));
  if (mode == "ping" && argc == 3) return Ping(ParseHwnd(argv[2]));
  if (mode == "bench") return Bench(argc, argv);
  std::fprintf(stderr, "usage: link-peer sink HWND | flood HWND N | bench [options]\n");
  return 2;
}
