#include <gtest/gtest.h>

#include <memory>

#include "FakeDesktop.h"
#include "link/Interactive.h"

namespace {

constexpr TWnd Own = 0x4242;
constexpr TWnd Controller = 0x100;

class TRecordingTarget : public TInteractiveTarget {
 public:
  std::vector<std::string> Calls;
  bool Silent = false;
  int32_t ProgramId = 7;
  bool Interactive = true;

  void RunPlay(bool fade) override { Calls.push_back(fade ? "play fade" : "play"); }
  void StopPlay(bool fade) override { Calls.push_back(fade ? "stop fade" : "stop"); }
  void FadeIn() override { Calls.push_back("fade in"); }
  void FadeOut() override { Calls.push_back("fade out"); }
  void SetInsideVolume(int32_t v) override { Calls.push_back("volume " + std::to_string(v)); }
  bool SilenceFlag() const override { return Silent; }
  int32_t PID() const override { return ProgramId; }
  bool SourceMode() const override { return Interactive; }
};

struct TModeFixture {
  TFakeDesktop Desktop;
  TWinMSG Link{Desktop, Own};
  TRecordingTarget Target;
  std::vector<std::function<void()>> Posted;
  std::unique_ptr<TInteractiveMode> Mode = std::make_unique<TInteractiveMode>(
      Link, Target, [this](std::function<void()> f) { Posted.push_back(std::move(f)); });

  TModeFixture() { Desktop.Add(Controller, "TController"); }
  intptr_t Receive(uint16_t code, uint16_t parameter, TWnd from = Controller) {
    return Mode->ReceiveCMD(from, PackParam(code, parameter));
  }
  void RunPosted() {
    auto posted = std::move(Posted);
    Posted.clear();
    for (auto& f : posted) f();
  }
};

TEST(Interactive, CommandsRunOnTheMainLoopNotInsideTheMessage) {
  TModeFixture f;
  EXPECT_EQ(f.Receive(cmdPlay, 2), 0);
  EXPECT_TRUE(f.Target.Calls.empty());
  f.RunPosted();
  EXPECT_EQ(f.Target.Calls, (std::vector<std::string>{"play fade"}));
  f.Target.Calls.clear();

  f.Receive(cmdPlay, 0);
  f.Receive(cmdPlay, 3);
  f.Receive(cmdStop, 3);
  f.Receive(cmdStop, 2);
  f.Receive(cmdStop, 0);
  f.Receive(cmdFadeIn, 77);
  f.Receive(cmdFadeOut, 0);
  f.Receive(cmdVolume, 150);
  f.Receive(cmdVolume, 0xFFFF);
  f.Receive(cmdVolume, 0);
  EXPECT_EQ(f.Posted.size(), 10u);
  f.RunPosted();
  EXPECT_EQ(f.Target.Calls,
            (std::vector<std::string>{"play", "play", "stop fade", "stop", "stop", "fade in",
                                      "fade out", "volume 150", "volume 65535", "volume 0"}));
  EXPECT_EQ(f.Mode->WaitingCommands(), 0u);
  EXPECT_TRUE(f.Desktop.Sent.empty()) << "commands are not answered";
}

TEST(Interactive, OtherCodesAndMalformedMessagesAreIgnored) {
  TModeFixture f;
  for (uint16_t code = 4; code <= 15; ++code) EXPECT_EQ(f.Receive(code, 2), 0);
  for (uint16_t code : {17, 0x400, 0x1001, 0x7FFE}) EXPECT_EQ(f.Receive(code, 0), 0);
  // Bit 31 or anything above the low 32 bits: not a code and parameter of this protocol.
  EXPECT_EQ(f.Mode->ReceiveCMD(Controller, static_cast<intptr_t>(0x80000000u)), 0);
  EXPECT_EQ(f.Mode->ReceiveCMD(Controller, -1), 0);
  EXPECT_EQ(f.Mode->ReceiveCMD(Controller, static_cast<intptr_t>(PackParam(ctlCode, ctlHello)) |
                                               (intptr_t{1} << 40)),
            0);
  EXPECT_TRUE(f.Posted.empty());
  EXPECT_TRUE(f.Link.Pending().empty());
  EXPECT_TRUE(f.Desktop.Sent.empty());
}

TEST(Interactive, OutsideInteractiveModeNothingIsHandled) {
  TModeFixture f;
  f.Target.Interactive = false;
  f.Target.ProgramId = -5;
  EXPECT_EQ(f.Receive(ctlCode, ctlQueryId), 0);
  EXPECT_EQ(f.Receive(ctlCode, ctlHello), 0);
  for (uint16_t code : {cmdPlay, cmdStop, cmdFadeIn, cmdFadeOut, cmdVolume}) f.Receive(code, 2);
  EXPECT_TRUE(f.Posted.empty());
  EXPECT_TRUE(f.Link.Pending().empty());
  EXPECT_TRUE(f.Desktop.Sent.empty());

  // Peers registered before the mode went off stay, but their withdrawal is not handled.
  f.Target.Interactive = true;
  f.Receive(ctlCode, ctlHello);
  f.Link.ScanPeers();
  f.Target.Interactive = false;
  f.Receive(ctlCode, ctlBye);
  EXPECT_EQ(f.Link.Peers().size(), 1u);
}

TEST(Interactive, HelloIsAnsweredWithTheSilenceStateDuringTheCall) {
  TModeFixture f;
  f.Target.Silent = true;
  EXPECT_EQ(f.Receive(ctlCode, ctlHello), 0);
  ASSERT_EQ(f.Desktop.Sent.size(), 1u);
  EXPECT_EQ(f.Desktop.Sent[0].To, Controller);
  EXPECT_EQ(f.Desktop.Sent[0].From, Own);
  EXPECT_EQ(f.Desktop.Sent[0].Packed, 0x04000000u);
  ASSERT_EQ(f.Link.Pending().size(), 1u);
  EXPECT_EQ(f.Link.Pending()[0].Wnd, Controller);

  f.Target.Silent = false;
  f.Receive(ctlCode, ctlHello);
  ASSERT_EQ(f.Desktop.Sent.size(), 2u);
  EXPECT_EQ(f.Desktop.Sent[1].Packed, 0x04010000u);
  EXPECT_TRUE(f.Posted.empty());

  f.Link.ScanPeers();
  f.Receive(ctlCode, ctlBye);
  EXPECT_TRUE(f.Link.Peers().empty());
}

TEST(Interactive, QueryReturnsTheProgramIdSignExtendedAndAnnouncesNothing) {
  TModeFixture f;
  f.Target.ProgramId = -5;
  EXPECT_EQ(f.Receive(ctlCode, ctlQueryId), -5);
  f.Target.ProgramId = 32767;
  EXPECT_EQ(f.Receive(ctlCode, ctlQueryId), 32767);
  f.Target.ProgramId = -32768;
  EXPECT_EQ(f.Receive(ctlCode, ctlQueryId), -32768);
  f.Link.ScanPeers();
  EXPECT_TRUE(f.Link.Peers().empty());
  EXPECT_TRUE(f.Desktop.Sent.empty());
}

TEST(Interactive, ACommandWaitingWhenTheModeGoesOffOrTheHandlerGoesIsDropped) {
  TModeFixture f;
  f.Receive(cmdPlay, 2);
  f.Target.Interactive = false;
  f.RunPosted();
  EXPECT_TRUE(f.Target.Calls.empty());

  f.Target.Interactive = true;
  f.Receive(cmdStop, 0);
  f.Mode.reset();
  f.RunPosted();
  EXPECT_TRUE(f.Target.Calls.empty());
}

TEST(Interactive, AFloodOfCommandsCannotGrowTheMainLoopsQueue) {
  TModeFixture f;
  for (int i = 0; i < 1000; ++i) f.Receive(cmdVolume, static_cast<uint16_t>(i));
  EXPECT_EQ(f.Posted.size(), TInteractiveMode::MaxWaitingCommands);
  EXPECT_EQ(f.Mode->DroppedCommands(), 1000 - TInteractiveMode::MaxWaitingCommands);
  f.RunPosted();
  ASSERT_EQ(f.Target.Calls.size(), TInteractiveMode::MaxWaitingCommands);
  EXPECT_EQ(f.Target.Calls.back(), "volume 255") << "the first ones are kept, in order";
  f.Receive(cmdFadeIn, 0);
  f.RunPosted();
  EXPECT_EQ(f.Target.Calls.back(), "fade in");
  // Queries and announcements are answered whatever waits.
  for (int i = 0; i < 300; ++i) f.Receive(cmdVolume, 1);
  EXPECT_EQ(f.Receive(ctlCode, ctlQueryId), 7);
}

}  // namespace
