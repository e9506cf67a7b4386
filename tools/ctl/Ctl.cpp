// kestrune-ctl: drives running Kestrune instances in interactive mode from the command line,
// through the same window messages any controlling program uses (docs/protocol.md).

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "RecordFile.h"
#include "link/Protocol.h"
#include "link/StreamRecorder.h"
#include "link/WinMSG.h"
#include "platform/win32/PeerLink.h"

namespace {

const char* const UsageText =
    "usage: kestrune-ctl [--pid N] [--timeout MS] COMMAND\n"
    "\n"
    "Commands:\n"
    "  list                     every running Kestrune: window, process ID, program ID\n"
    "  play [--fade]            start the relay; with --fade it fades in once online\n"
    "  stop [--fade]            stop the relay; with --fade it fades out first\n"
    "  fadein                   fade the internal volume in\n"
    "  fadeout                  fade the internal volume out (the relay keeps running)\n"
    "  volume N                 set the internal volume to N percent (0..100)\n"
    "  watch [--seconds S]      connect and print every notification with its time\n"
    "                           until Ctrl-C (or for S seconds)\n"
    "  record FILE.wav --seconds S [--every MS] [--idle S]\n"
    "                           connect and write S seconds of the stream to a WAV file,\n"
    "                           printing the levels every MS milliseconds (1000); ends when\n"
    "                           no block came for --idle seconds (10)\n"
    "\n"
    "Options:\n"
    "  --pid N                  the instance whose program ID is N (-32768..32767, not 0);\n"
    "                           without it the one instance that runs\n"
    "  --timeout MS             how long to wait for an instance's answer (default 2000)\n"
    "\n"
    "Exit codes:\n"
    "  0    done\n"
    "  1    no instance, no instance with that program ID, or several and no --pid\n"
    "  2    wrong arguments\n"
    "  3    the instance is not in interactive mode (program ID 0) and ignores commands\n"
    "  4    the instance did not answer in time\n"
    "  5    the file cannot be written (the WAV file holds what was written before)\n"
    "  6    malformed stream blocks came and were left out of the file\n"
    "  7    the instance's window went away during watch or record\n"
    "  8    record: no stream block came for --idle seconds (is the relay running?)\n"
    "  130  stopped with Ctrl-C\n";

enum TExit {
  ExitOk = 0,
  ExitNoInstance = 1,
  ExitUsage = 2,
  ExitNotInteractive = 3,
  ExitNoAnswer = 4,
  ExitFile = 5,
  ExitMalformed = 6,
  ExitGone = 7,
  ExitNoStream = 8,
  ExitInterrupted = 130,
};

const char* const OwnWindowClass = "KestruneCtl";

std::atomic<bool> Interrupted{false};
DWORD MainThreadId = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
  Interrupted = true;
  PostThreadMessageA(MainThreadId, WM_NULL, 0, 0);
  return TRUE;
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "kestrune-ctl: %s\n", message.c_str());
  return code;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "kestrune-ctl: %s\n(kestrune-ctl --help lists the commands)\n",
               message.c_str());
  return ExitUsage;
}

void PrintLine(FILE* to, const std::string& line) {
  std::fprintf(to, "%s\n", line.c_str());
  std::fflush(to);
}

std::string Format(const char* format, auto... values) {
  char text[512];
  std::snprintf(text, sizeof(text), format, values...);
  return text;
}

std::string TimeStamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return Format("%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

std::string WindowText(HWND hwnd) {
  return Format("0x%08llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)));
}

const char* NotificationName(uint16_t code) {
  switch (code) {
    case ntfSilence:
      return "silence";
    case ntfSound:
      return "sound";
    case ntfOffline:
      return "offline";
    case ntfOnline:
      return "online";
    default:
      return "unknown";
  }
}

bool ParseInt(const std::string& text, long min, long max, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end && *end == 0 && value >= min && value <= max;
}

bool ParseSeconds(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end && *end == 0 && std::isfinite(value) && value > 0 && value <= 86400 * 7;
}

struct TOptions {
  std::optional<int32_t> Pid;
  uint32_t TimeoutMs = 2000;
  std::string Command;
  bool Fade = false;
  long Volume = -1;
  std::optional<double> Seconds;
  std::string File;
  uint32_t EveryMs = 1000;
  uint32_t IdleMs = 10000;
  bool RecordOptions = false;  // --every or --idle given
};

// Parses the arguments; an exit code when they are wrong (or --help was asked for).
std::optional<int> ParseArguments(const std::vector<std::string>& args, TOptions& o) {
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    long n = 0;
    if (a == "--help" || a == "-h" || a == "/?") {
      std::fputs(UsageText, stdout);
      return ExitOk;
    } else if (a == "--pid") {
      const auto v = value();
      if (!v || !ParseInt(*v, -32768, 32767, n) || n == 0)
        return UsageError("--pid needs a program ID from -32768 to 32767, not 0");
      o.Pid = static_cast<int32_t>(n);
    } else if (a == "--timeout") {
      const auto v = value();
      if (!v || !ParseInt(*v, 1, 600000, n))
        return UsageError("--timeout needs milliseconds (1..600000)");
      o.TimeoutMs = static_cast<uint32_t>(n);
    } else if (a == "--fade") {
      o.Fade = true;
    } else if (a == "--seconds") {
      double s = 0;
      const auto v = value();
      if (!v || !ParseSeconds(*v, s)) return UsageError("--seconds needs a positive number");
      o.Seconds = s;
    } else if (a == "--every") {
      const auto v = value();
      if (!v || !ParseInt(*v, 10, 3600000, n))
        return UsageError("--every needs milliseconds (10..3600000)");
      o.EveryMs = static_cast<uint32_t>(n);
      o.RecordOptions = true;
    } else if (a == "--idle") {
      const auto v = value();
      if (!v || !ParseInt(*v, 1, 3600, n)) return UsageError("--idle needs seconds (1..3600)");
      o.IdleMs = static_cast<uint32_t>(n * 1000);
      o.RecordOptions = true;
    } else if (a.size() > 1 && a[0] == '-' && !ParseInt(a, -100000, 100000, n)) {
      return UsageError("unknown option " + a);
    } else {
      words.push_back(a);
    }
  }
  if (words.empty()) return UsageError("no command");
  o.Command = words[0];
  const size_t extra = words.size() - 1;
  const std::string& c = o.Command;
  const bool known = c == "list" || c == "play" || c == "stop" || c == "fadein" || c == "fadeout" ||
                     c == "volume" || c == "watch" || c == "record";
  if (!known) return UsageError("unknown command " + c);
  if (o.Fade && c != "play" && c != "stop") return UsageError("--fade belongs to play and stop");
  if (o.Seconds && c != "watch" && c != "record")
    return UsageError("--seconds belongs to watch and record");
  if (o.RecordOptions && c != "record") return UsageError("--every and --idle belong to record");
  if (c == "volume") {
    long v = 0;
    if (extra != 1 || !ParseInt(words[1], 0, 100, v))
      return UsageError("volume needs one number from 0 to 100");
    o.Volume = v;
  } else if (c == "record") {
    if (extra != 1) return UsageError("record needs one file name");
    if (!o.Seconds) return UsageError("record needs --seconds");
    o.File = words[1];
  } else if (extra != 0) {
    return UsageError(c + " takes no " + words[1]);
  }
  return std::nullopt;
}

struct TInstance {
  HWND Wnd = nullptr;
  DWORD ProcessId = 0;
  std::optional<int32_t> ProgramId;  // none: it did not answer
};

std::vector<TInstance> FindInstances(TDesktop& desktop, TWinMSG& link) {
  std::vector<TTopWindow> windows;
  desktop.TopLevelWindows(windows);
  std::sort(windows.begin(), windows.end(),
            [](const TTopWindow& a, const TTopWindow& b) { return a.Wnd < b.Wnd; });
  std::vector<TInstance> found;
  for (const auto& w : windows) {
    if (w.WndClass != MainWindowClass) continue;
    TInstance instance;
    instance.Wnd = AsHwnd(w.Wnd);
    GetWindowThreadProcessId(instance.Wnd, &instance.ProcessId);
    instance.ProgramId = link.SendCommand(w.Wnd, ctlCode, ctlQueryId);
    found.push_back(instance);
  }
  return found;
}

std::string Describe(const TInstance& i) {
  return Format("program ID %d (process %lu, window %s)", i.ProgramId.value_or(0),
                static_cast<unsigned long>(i.ProcessId), WindowText(i.Wnd).c_str());
}

int List(TDesktop& desktop, TWinMSG& link) {
  const auto instances = FindInstances(desktop, link);
  if (instances.empty()) return Fail(ExitNoInstance, "no Kestrune is running");
  PrintLine(stdout, "window      process  program-id");
  for (const auto& i : instances) {
    std::string id = "no answer";
    if (i.ProgramId) id = *i.ProgramId ? std::to_string(*i.ProgramId) : "0 (not interactive)";
    PrintLine(stdout, Format("%s  %-7lu  %s", WindowText(i.Wnd).c_str(),
                             static_cast<unsigned long>(i.ProcessId), id.c_str()));
  }
  return ExitOk;
}

// The instance the command is for, or an exit code.
int SelectInstance(TDesktop& desktop, TWinMSG& link, const TOptions& o, TInstance& chosen) {
  const auto instances = FindInstances(desktop, link);
  if (instances.empty()) return Fail(ExitNoInstance, "no Kestrune is running");
  if (o.Pid) {
    std::vector<TInstance> matching;
    for (const auto& i : instances)
      if (i.ProgramId == o.Pid) matching.push_back(i);
    if (matching.empty())
      return Fail(ExitNoInstance, Format("no Kestrune answers to program ID %d", *o.Pid));
    if (matching.size() > 1)
      return Fail(ExitNoInstance,
                  Format("%zu instances answer to program ID %d", matching.size(), *o.Pid));
    chosen = matching[0];
    return ExitOk;
  }
  if (instances.size() > 1)
    return Fail(ExitNoInstance,
                Format("%zu instances run: choose one with --pid (see list)", instances.size()));
  chosen = instances[0];
  if (!chosen.ProgramId)
    return Fail(ExitNoAnswer,
                "the instance (window " + WindowText(chosen.Wnd) + ") did not answer in time");
  if (*chosen.ProgramId == 0)
    return Fail(ExitNotInteractive,
                "the instance is not in interactive mode (its program ID is 0): it ignores "
                "commands; switch interactive mode on in its settings");
  return ExitOk;
}

int SendCommandTo(TWinMSG& link, const TInstance& instance, uint16_t code, uint16_t parameter,
                  const std::string& what) {
  if (!link.SendCommand(AsWnd(instance.Wnd), code, parameter))
    return Fail(ExitNoAnswer, Describe(instance) + " did not answer in time");
  PrintLine(stdout, what + " sent to " + Describe(instance));
  return ExitOk;
}

// One received stream block, kept until the main loop writes it.
struct TReceived {
  uint32_t DwData = 0;
  std::vector<uint8_t> Data;
};

// This program's side of a connection: a hidden top-level window announced to the instance.
// Notifications and blocks are taken only from the instance's window; blocks are copied out of
// the message at once and handled by the main loop, so the instance never waits for the disk.
class TConnection {
 public:
  TConnection(TDesktop& desktop, const TInstance& instance, uint32_t timeoutMs)
      : Instance(instance),
        Window(OwnWindowClass,
               [this](UINT m, WPARAM w, LPARAM l, LRESULT& r) { return Handle(m, w, l, r); }),
        Link(desktop, AsWnd(Window.Handle())) {
    Link.SendTimeoutMs = timeoutMs;
  }

  bool Ready() const { return static_cast<bool>(Window); }
  // Announces this program; the instance answers with its silence state during the call.
  bool Hello() {
    InHello = true;
    const bool answered = Link.SendCommand(AsWnd(Instance.Wnd), ctlCode, ctlHello).has_value();
    InHello = false;
    return answered;
  }
  void Bye() { Link.SendCommand(AsWnd(Instance.Wnd), ctlCode, ctlBye); }
  bool InstanceAlive() const { return IsWindow(Instance.Wnd); }

  std::function<void(uint16_t code, bool duringHello)> OnNotification;
  bool TakeBlocks = false;
  std::deque<TReceived> Blocks;
  uint64_t BlocksLostHere = 0;
  uint64_t Foreign = 0;
  // The longest time between two blocks' arrivals: how long the stream stood still.
  ULONGLONG LongestPauseMs = 0;
  // Blocks waiting here at most: a few seconds of the smallest blocks.
  static constexpr size_t MaxWaiting = 2048;

 private:
  bool Handle(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    const bool fromInstance = reinterpret_cast<HWND>(wParam) == Instance.Wnd;
    if (msg == WM_WINMSG) {
      result = 0;
      const auto packed = static_cast<uint32_t>(lParam);
      if (!fromInstance) {
        ++Foreign;
      } else if (OnNotification) {
        OnNotification(CodeOf(packed), InHello);
      }
      return true;
    }
    if (msg == WM_COPYDATA) {
      result = FALSE;
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!fromInstance || !cds || !TakeBlocks) {
        ++Foreign;
        return true;
      }
      const ULONGLONG now = GetTickCount64();
      if (LastArrival) LongestPauseMs = std::max(LongestPauseMs, now - LastArrival);
      LastArrival = now;
      if (Blocks.size() >= MaxWaiting) {
        ++BlocksLostHere;
        return true;
      }
      const auto* bytes = static_cast<const uint8_t*>(cds->lpData);
      TReceived block;
      block.DwData = static_cast<uint32_t>(cds->dwData);
      if (bytes && cds->cbData) block.Data.assign(bytes, bytes + cds->cbData);
      Blocks.push_back(std::move(block));
      result = TRUE;
      return true;
    }
    return false;
  }

  TInstance Instance;
  TLinkWindow Window;
  TWinMSG Link;
  bool InHello = false;
  ULONGLONG LastArrival = 0;
};

// Runs this thread's messages until tick returns false or Ctrl-C; tick runs at least every 50 ms.
template <typename F>
void Pump(F tick) {
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (Interrupted || !tick()) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

int Watch(TDesktop& desktop, const TInstance& instance, const TOptions& o) {
  TConnection c(desktop, instance, o.TimeoutMs);
  if (!c.Ready()) return Fail(ExitNoAnswer, "cannot create a window of its own");
  bool stateCame = false;
  c.OnNotification = [&](uint16_t code, bool duringHello) {
    stateCame = stateCame || duringHello;
    PrintLine(stdout, Format("%s 0x%04x %s%s", TimeStamp().c_str(), code, NotificationName(code),
                             duringHello ? " (state at connection)" : ""));
  };
  PrintLine(stdout, "watching " + Describe(instance));
  if (!c.Hello()) return Fail(ExitNoAnswer, Describe(instance) + " did not answer in time");
  if (!stateCame) PrintLine(stderr, "kestrune-ctl: no state came with the connection");
  const ULONGLONG end =
      o.Seconds ? GetTickCount64() + static_cast<ULONGLONG>(*o.Seconds * 1000) : ~0ull;
  int code = ExitOk;
  Pump([&] {
    if (!c.InstanceAlive()) {
      code = ExitGone;
      return false;
    }
    return GetTickCount64() < end;
  });
  if (code == ExitGone) return Fail(ExitGone, "the instance's window went away");
  c.Bye();
  return Interrupted ? ExitInterrupted : ExitOk;
}

std::string Level(double db) {
  return db <= -90.0 ? "  -inf" : Format("%6.1f", db);
}

int Record(TDesktop& desktop, const TInstance& instance, const TOptions& o) {
  TWin32RecordFile file;
  if (!file.Create(o.File)) return Fail(ExitFile, "cannot create " + o.File + ": " + file.Error());
  TStreamRecorder recorder(file);
  if (!recorder.Start()) return Fail(ExitFile, "cannot write " + o.File + ": " + file.Error());

  TConnection c(desktop, instance, o.TimeoutMs);
  if (!c.Ready()) return Fail(ExitNoAnswer, "cannot create a window of its own");
  c.TakeBlocks = true;
  if (!c.Hello()) return Fail(ExitNoAnswer, Describe(instance) + " did not answer in time");
  PrintLine(stdout, "recording " + Describe(instance) + " to " + o.File);

  int code = ExitOk;
  int faultsShown = 0;
  bool rateReported = false;
  ULONGLONG lastBlock = GetTickCount64();
  ULONGLONG nextLevels = lastBlock + o.EveryMs;
  auto write = [&](const TReceived& block) {
    // The frame limit follows from the first block's rate.
    if (recorder.FrameLimit == 0 && block.Data.size() >= StreamHeaderSize) {
      const int32_t rate = ReadStreamHeader(block.Data.data()).SampleRate;
      if (IsStreamRate(rate))
        recorder.FrameLimit = std::max<uint64_t>(1, std::llround(*o.Seconds * rate));
    }
    switch (recorder.Accept(block.DwData, block.Data.data(), block.Data.size())) {
      case TStreamRecorder::TResult::Written:
      case TStreamRecorder::TResult::Full:
        break;
      case TStreamRecorder::TResult::Malformed:
        if (faultsShown++ < 10)
          PrintLine(stderr, Format("kestrune-ctl: a malformed block of %zu bytes left out: %s",
                                   block.Data.size(), BlockCheckText(recorder.LastFault())));
        break;
      case TStreamRecorder::TResult::RateChanged:
        if (!rateReported)
          PrintLine(stderr, Format("kestrune-ctl: the stream's rate changed; blocks not at %d "
                                   "Hz are left out",
                                   recorder.SampleRate()));
        rateReported = true;
        break;
      case TStreamRecorder::TResult::FileError:
        code = ExitFile;
        break;
    }
  };
  Pump([&] {
    const ULONGLONG now = GetTickCount64();
    if (!c.Blocks.empty()) lastBlock = now;
    while (!c.Blocks.empty() && code == ExitOk && !recorder.LimitReached()) {
      write(c.Blocks.front());
      c.Blocks.pop_front();
    }
    if (code != ExitOk || recorder.LimitReached()) return false;
    if (now >= nextLevels) {
      nextLevels = now + o.EveryMs;
      const TBlockLevels peak = recorder.TakePeakLevels();
      const double seconds =
          recorder.SampleRate() ? double(recorder.FramesWritten()) / recorder.SampleRate() : 0;
      PrintLine(stdout, Format("%s %8.2f s  left %s dB  right %s dB", TimeStamp().c_str(), seconds,
                               Level(peak.Left).c_str(), Level(peak.Right).c_str()));
    }
    if (!c.InstanceAlive()) {
      code = ExitGone;
      return false;
    }
    if (now - lastBlock >= o.IdleMs) {
      code = ExitNoStream;
      return false;
    }
    return true;
  });
  if (code != ExitGone) c.Bye();

  const double seconds =
      recorder.SampleRate() ? double(recorder.FramesWritten()) / recorder.SampleRate() : 0;
  PrintLine(stdout, Format("wrote %llu frames (%.3f s at %d Hz) to %s; %llu blocks, %llu left out",
                           static_cast<unsigned long long>(recorder.FramesWritten()), seconds,
                           recorder.SampleRate(), o.File.c_str(),
                           static_cast<unsigned long long>(recorder.BlocksWritten()),
                           static_cast<unsigned long long>(recorder.BlocksRefused())));
  if (recorder.BlocksWritten() > 1)
    PrintLine(stdout, Format("longest pause between blocks: %llu ms",
                             static_cast<unsigned long long>(c.LongestPauseMs)));
  if (c.BlocksLostHere)
    PrintLine(stderr, Format("kestrune-ctl: %llu blocks came faster than the file took them",
                             static_cast<unsigned long long>(c.BlocksLostHere)));
  switch (code) {
    case ExitFile:
      return Fail(ExitFile, "cannot write " + o.File + ": " + file.Error() +
                                "; the file holds what was written before");
    case ExitGone:
      return Fail(ExitGone, "the instance's window went away");
    case ExitNoStream:
      return Fail(ExitNoStream,
                  Format("no stream block came for %u s; is the relay running?", o.IdleMs / 1000));
    default:
      break;
  }
  if (Interrupted) return ExitInterrupted;
  return recorder.BlocksRefused() ? ExitMalformed : ExitOk;
}

int Run(const TOptions& o) {
  TWin32Desktop desktop;
  // Queries need no window of this program's: wParam 0 tells the instance nothing.
  TWinMSG link(desktop, 0);
  link.SendTimeoutMs = o.TimeoutMs;
  if (o.Command == "list") return List(desktop, link);

  TInstance instance;
  if (const int code = SelectInstance(desktop, link, o, instance); code != ExitOk) return code;
  if (o.Command == "play")
    return SendCommandTo(link, instance, cmdPlay, o.Fade ? cmdPlayWithFade : 0,
                         o.Fade ? "play with fade-in" : "play");
  if (o.Command == "stop")
    return SendCommandTo(link, instance, cmdStop, o.Fade ? cmdStopWithFade : 0,
                         o.Fade ? "stop with fade-out" : "stop");
  if (o.Command == "fadein") return SendCommandTo(link, instance, cmdFadeIn, 0, "fade-in");
  if (o.Command == "fadeout") return SendCommandTo(link, instance, cmdFadeOut, 0, "fade-out");
  if (o.Command == "volume")
    return SendCommandTo(link, instance, cmdVolume, static_cast<uint16_t>(o.Volume),
                         "volume " + std::to_string(o.Volume));
  if (o.Command == "watch") return Watch(desktop, instance, o);
  return Record(desktop, instance, o);
}

}  // namespace

int main(int argc, char** argv) {
  MainThreadId = GetCurrentThreadId();
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  TOptions options;
  if (const auto code = ParseArguments(std::vector<std::string>(argv + 1, argv + argc), options))
    return *code;
  return Run(options);
}
