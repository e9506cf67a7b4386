#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <thread>

#include "LinkHost.h"

namespace {

std::string CtlPath() {
  return ThisProgramDir() + "..\\tools\\ctl\\kestrune-ctl.exe";
}

struct TCtlRun {
  std::optional<DWORD> Exit;
  std::string Out;
};

TCtlRun RunCtl(TLinkHost& host, const std::string& args, DWORD timeoutMs = 30000) {
  TChild ctl;
  if (!ctl.Start(CtlPath(), args)) {
    ADD_FAILURE() << "cannot start " << CtlPath();
    return {};
  }
  const auto exit = ctl.Wait(timeoutMs, host.Pumper());
  return {exit, ctl.Output()};
}

std::string HwndText(HWND hwnd) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%08llx",
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)));
  return text;
}

std::string TempFile(const std::string& name) {
  char dir[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, dir);
  const std::string path = std::string(dir) + name;
  DeleteFileA(path.c_str());
  return path;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The file is a complete 16-bit stereo 44100 Hz WAV; returns its samples.
std::vector<int16_t> WavSamples(const std::vector<uint8_t>& file) {
  EXPECT_GE(file.size(), 44u);
  if (file.size() < 44) return {};
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(U32(file, 24), 44100u);
  EXPECT_EQ(U32(file, 40), file.size() - 44) << "the header describes the whole file";
  EXPECT_EQ(U32(file, 4), file.size() - 8);
  std::vector<int16_t> samples((file.size() - 44) / 2);
  std::memcpy(samples.data(), file.data() + 44, samples.size() * 2);
  return samples;
}

// The recording is made of whole blocks of the producer, in order and without gaps, and
// perhaps the beginning of one more. Returns the number of whole blocks.
size_t ExpectConsecutiveBlocks(const std::vector<int16_t>& samples, size_t blockSamples) {
  const size_t whole = samples.size() / blockSamples;
  std::vector<int64_t> sequence;
  for (size_t i = 0; i < whole; ++i)
    sequence.push_back(SequenceOf(samples.data() + i * blockSamples, blockSamples));
  for (size_t i = 0; i < whole; ++i) {
    EXPECT_GE(sequence[i], 0) << "block " << i << " is damaged";
    EXPECT_TRUE(i == 0 || sequence[i] == sequence[i - 1] + 1)
        << "block " << i << " follows " << sequence[i - (i > 0)];
  }
  return whole;
}

// Queues blocks of 880 bytes (5 ms at 44100 Hz) at 200 a second, as the relay thread would.
class TProducer {
 public:
  explicit TProducer(TSenderArea& area) {
    Thread = std::thread([this, &area] {
      std::vector<int16_t> block(440);
      const ULONGLONG start = GetTickCount64();
      int64_t n = 0;
      while (!Stop) {
        for (const int64_t due = int64_t(GetTickCount64() - start) / 5; n < due; ++n) {
          FillBlock(block, n);
          area.AddSendData(block.data(), 880, 44100);
        }
        Sleep(10);
      }
    });
  }
  ~TProducer() {
    Stop = true;
    Thread.join();
  }

 private:
  std::atomic<bool> Stop{false};
  std::thread Thread;
};

TEST(Ctl, ListsTheInstancesAndSelectsOneByItsProgramId) {
  TLinkHost host;
  TLinkHost other;
  other.Interactive = false;
  TCtlRun run = RunCtl(host, "list");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(0)) << run.Out;
  const std::string pid = std::to_string(GetCurrentProcessId());
  EXPECT_NE(run.Out.find(HwndText(host.Hwnd()) + "  " + pid), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find(pid + std::string(7 - pid.size(), ' ') + "  -5"), std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("0 (not interactive)"), std::string::npos) << run.Out;

  run = RunCtl(host, "play");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(1)) << "two instances and no --pid";
  EXPECT_NE(run.Out.find("choose one with --pid"), std::string::npos) << run.Out;
  run = RunCtl(host, "--pid 9 play");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(1));
  EXPECT_NE(run.Out.find("no Kestrune answers to program ID 9"), std::string::npos) << run.Out;
  run = RunCtl(host, "play --fade --pid -5");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(0)) << run.Out;
  EXPECT_NE(run.Out.find("play with fade-in sent to program ID -5"), std::string::npos) << run.Out;
  EXPECT_EQ(host.Calls, (std::vector<std::string>{"play fade"}));
  EXPECT_TRUE(other.Calls.empty());
}

TEST(Ctl, CommandsReachTheInstanceAndRunOnItsLoop) {
  TLinkHost host;
  for (const char* args : {"play", "stop --fade", "fadein", "fadeout", "volume 42", "volume 0",
                           "play --fade", "stop"}) {
    const TCtlRun run = RunCtl(host, args);
    EXPECT_EQ(run.Exit, std::optional<DWORD>(0)) << args << ": " << run.Out;
  }
  EXPECT_EQ(host.Calls, (std::vector<std::string>{"play", "stop fade", "fade in", "fade out",
                                                  "volume 42", "volume 0", "play fade", "stop"}));
  EXPECT_TRUE(host.Link.Peers().empty() && host.Link.Pending().empty())
      << "commands need no announcement and make none";
}

TEST(Ctl, RefusesWrongArgumentsAndAnInstanceOutsideInteractiveMode) {
  TLinkHost host;
  for (const char* args : {"", "volume 101", "volume", "volume x", "frobnicate", "play --fast",
                           "record x.wav", "--pid 0 play", "--pid 40000 play", "fadein --fade",
                           "list extra", "watch --seconds -1", "watch --idle 3", "--timeout"}) {
    const TCtlRun run = RunCtl(host, args);
    EXPECT_EQ(run.Exit, std::optional<DWORD>(2)) << "'" << args << "': " << run.Out;
  }
  TCtlRun run = RunCtl(host, "--help");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(0));
  EXPECT_NE(run.Out.find("Exit codes:"), std::string::npos);
  host.Interactive = false;
  run = RunCtl(host, "play");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(3)) << run.Out;
  EXPECT_NE(run.Out.find("not in interactive mode"), std::string::npos) << run.Out;
  EXPECT_TRUE(host.Calls.empty());
}

TEST(Ctl, WatchPrintsEachNotificationWithItsTimeAndWithdrawsAtTheEnd) {
  TLinkHost host;
  host.Silent = true;
  TChild ctl;
  ASSERT_TRUE(ctl.Start(CtlPath(), "watch --seconds 2"));
  ASSERT_TRUE(ctl.WaitLine("watching program ID -5", 15000, host.Pumper()));
  ASSERT_TRUE(host.PumpUntil([&] { return host.Link.Peers().size() == 1; }, 3000));
  host.Link.Notify(ntfOnline);
  host.Link.Notify(ntfSound);
  host.Link.Notify(ntfOffline);
  EXPECT_EQ(ctl.Wait(15000, host.Pumper()), std::optional<DWORD>(0)) << ctl.Output();
  const std::string& out = ctl.Output();
  const std::regex lines(
      "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d 0x0400 silence \\(state at connection\\)\\r?\\n"
      "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d 0x1001 online\\r?\\n"
      "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d 0x0401 sound\\r?\\n"
      "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d 0x1000 offline\\r?\\n");
  EXPECT_TRUE(std::regex_search(out, lines)) << out;
  EXPECT_TRUE(host.Link.Peers().empty()) << "withdrawn at its end";

  // The instance's window going away ends the watch.
  auto gone = std::make_unique<TLinkHost>();
  gone->ProgramId = 33;
  TChild second;
  ASSERT_TRUE(second.Start(CtlPath(), "watch --pid 33"));
  ASSERT_TRUE(second.WaitLine("watching", 15000, gone->Pumper()));
  // The line comes before the announcement: the window goes only once it has a peer.
  ASSERT_TRUE(gone->PumpUntil([&] { return gone->Link.Peers().size() == 1; }, 5000));
  gone.reset();
  EXPECT_EQ(second.Wait(15000), std::optional<DWORD>(7)) << second.Output();
}

TEST(Ctl, RecordWritesTheStreamToAWavAndPrintsLevels) {
  TLinkHost host;
  TProducer producer(host.Area);
  const std::string path = TempFile("kestrune-ctl-record.wav");
  const TCtlRun run = RunCtl(host, "record \"" + path + "\" --seconds 1 --every 200");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(0)) << run.Out;
  EXPECT_NE(run.Out.find("wrote 44100 frames (1.000 s at 44100 Hz)"), std::string::npos) << run.Out;
  const std::regex level("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d +[0-9.]+ s  left +-?[0-9.]+ dB  right");
  EXPECT_GE(std::distance(std::sregex_iterator(run.Out.begin(), run.Out.end(), level),
                          std::sregex_iterator()),
            3)
      << run.Out;
  const auto samples = WavSamples(ReadAll(path));
  EXPECT_EQ(samples.size(), 44100u * 2);
  EXPECT_EQ(ExpectConsecutiveBlocks(samples, 440), 200u);
  EXPECT_TRUE(host.Link.Peers().empty());
  DeleteFileA(path.c_str());
}

TEST(Ctl, RecordLeavesMalformedBlocksOutAndSaysSo) {
  TLinkHost host;
  TProducer producer(host.Area);
  int ticks = 0;
  host.OnTick = [&] {
    // Once the recorder is connected and blocks flow: a block with a wrong header.
    if (host.Link.Peers().empty() || ++ticks != 20) return;
    std::vector<uint8_t> bad(22 + 880);
    TStreamHeader h;
    h.SampleRate = 44100;
    h.Channels = 1;
    WriteStreamHeader(h, bad.data());
    host.Link.BroadcastData(StreamCode, StreamParameter, bad.data(), 902);
  };
  const std::string path = TempFile("kestrune-ctl-malformed.wav");
  const TCtlRun run = RunCtl(host, "record \"" + path + "\" --seconds 0.5");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(6)) << run.Out;
  EXPECT_NE(run.Out.find("a malformed block of 902 bytes left out: channels is not 2"),
            std::string::npos)
      << run.Out;
  const auto samples = WavSamples(ReadAll(path));
  EXPECT_EQ(samples.size(), 22050u * 2);
  ExpectConsecutiveBlocks(samples, 440);
  DeleteFileA(path.c_str());
}

TEST(Ctl, RecordEndsWithAValidFileWhenTheFileTheStreamOrTheInstanceFails) {
  TLinkHost host;
  TCtlRun run = RunCtl(host, "record Z:\\no\\such\\folder\\x.wav --seconds 1");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(5)) << run.Out;
  EXPECT_NE(run.Out.find("cannot create Z:\\no\\such\\folder\\x.wav: "), std::string::npos)
      << run.Out;

  // Nothing comes: the recording ends after --idle seconds with an empty but valid file.
  const std::string idle = TempFile("kestrune-ctl-idle.wav");
  run = RunCtl(host, "record \"" + idle + "\" --seconds 1 --idle 1");
  EXPECT_EQ(run.Exit, std::optional<DWORD>(8)) << run.Out;
  EXPECT_TRUE(WavSamples(ReadAll(idle)).empty());
  DeleteFileA(idle.c_str());

  // The instance goes while the stream flows: the file holds what came.
  const std::string cut = TempFile("kestrune-ctl-cut.wav");
  auto gone = std::make_unique<TLinkHost>();
  gone->ProgramId = 44;
  {
    TProducer producer(gone->Area);
    TChild ctl;
    ASSERT_TRUE(ctl.Start(CtlPath(), "--pid 44 record \"" + cut + "\" --seconds 10"));
    ASSERT_TRUE(ctl.WaitLine("recording", 15000, gone->Pumper()));
    gone->PumpUntil([] { return false; }, 500);
    gone->Window.Destroy();
    EXPECT_EQ(ctl.Wait(15000), std::optional<DWORD>(7)) << ctl.Output();
  }
  const auto samples = WavSamples(ReadAll(cut));
  EXPECT_GT(ExpectConsecutiveBlocks(samples, 440), 10u);
  DeleteFileA(cut.c_str());
}

}  // namespace
