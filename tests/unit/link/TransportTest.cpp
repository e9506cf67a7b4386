#include <gtest/gtest.h>

#include "FakeDesktop.h"
#include "link/WinMSG.h"

namespace {

constexpr TWnd Own = 0x4242;

struct TTransportFixture {
  TFakeDesktop Desktop;
  TWinMSG Link{Desktop, Own};
  std::vector<std::string> Events;

  TTransportFixture() {
    Link.OnPeerFound = [this](TWinMSG&, const TPeerWindow& p) {
      Events.push_back("found " + std::to_string(p.Wnd));
    };
    Link.OnPeerLost = [this](TWinMSG&, const TPeerWindow& p) {
      Events.push_back("lost " + std::to_string(p.Wnd));
    };
  }
  bool Control(TWnd from, uint16_t parameter) {
    uint16_t code = 0, param = 0;
    return Link.HandleMessage(from, PackParam(ctlCode, parameter), code, param);
  }
  void Hello(TWnd from) { EXPECT_TRUE(Control(from, ctlHello)); }
  void Bye(TWnd from) { EXPECT_TRUE(Control(from, ctlBye)); }
  std::vector<TWnd> PeerHandles() const {
    std::vector<TWnd> r;
    for (const auto& p : Link.Peers()) r.push_back(p.Wnd);
    return r;
  }
};

TEST(Transport, AnnouncedWindowBecomesAPeerAtTheNextScanOnlyOnce) {
  TTransportFixture f;
  f.Desktop.Add(0x100, "TController");
  f.Hello(0x100);
  ASSERT_EQ(f.Link.Pending().size(), 1u);
  EXPECT_FALSE(f.Link.Pending()[0].Active);
  EXPECT_TRUE(f.Link.Peers().empty());
  f.Link.NotifyPeers(0, ntfOnline, 0);
  EXPECT_TRUE(f.Desktop.Sent.empty()) << "a pending window receives nothing";

  f.Link.ScanPeers();
  ASSERT_EQ(f.Link.Peers().size(), 1u);
  const TPeerWindow& peer = f.Link.Peers()[0];
  EXPECT_TRUE(peer.Active);
  EXPECT_EQ(peer.Wnd, 0x100);
  EXPECT_EQ(peer.Kind, 0);
  EXPECT_EQ(peer.WndClass, "TController");
  EXPECT_TRUE(f.Link.Pending().empty());

  // Announcing again, before or after a scan, changes nothing.
  f.Hello(0x100);
  EXPECT_TRUE(f.Link.Pending().empty());
  f.Link.ScanPeers();
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x100}));
  EXPECT_EQ(f.Events, (std::vector<std::string>{"found 256"}));

  f.Link.NotifyPeers(0, ntfOnline, 0);
  ASSERT_EQ(f.Desktop.Sent.size(), 1u);
  EXPECT_EQ(f.Desktop.Sent[0].To, 0x100);
  EXPECT_EQ(f.Desktop.Sent[0].From, Own);
  EXPECT_EQ(f.Desktop.Sent[0].Packed, 0x10010000u);
}

TEST(Transport, RepeatedAnnouncementsBetweenScansMakeOnePeer) {
  TTransportFixture f;
  f.Desktop.Add(0x100);
  for (int i = 0; i < 5; ++i) f.Hello(0x100);
  EXPECT_EQ(f.Link.Pending().size(), 1u);
  f.Link.ScanPeers();
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x100}));
  EXPECT_EQ(f.Events, (std::vector<std::string>{"found 256"}));
}

TEST(Transport, WithdrawalBeforeConfirmationRemovesNothing) {
  TTransportFixture f;
  f.Desktop.Add(0x100);
  f.Hello(0x100);
  f.Bye(0x100);
  f.Link.ScanPeers();
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x100}));

  // A withdrawal of a stranger changes nothing; the peer's own removes it and reports it.
  f.Bye(0x999);
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x100}));
  f.Bye(0x100);
  EXPECT_TRUE(f.Link.Peers().empty());
  EXPECT_EQ(f.Events, (std::vector<std::string>{"found 256", "lost 256"}));
  // Any parameter other than hello and query withdraws.
  f.Hello(0x100);
  f.Link.ScanPeers();
  EXPECT_TRUE(f.Control(0x100, 0x1234));
  EXPECT_TRUE(f.Link.Peers().empty());
}

TEST(Transport, QueryIsAControlMessageButNoAnnouncementAndOtherCodesGoToTheOwner) {
  TTransportFixture f;
  f.Desktop.Add(0x100);
  uint16_t code = 1, parameter = 1;
  EXPECT_TRUE(f.Link.HandleMessage(0x100, PackParam(ctlCode, ctlQueryId), code, parameter));
  EXPECT_EQ(code, ctlCode);
  EXPECT_EQ(parameter, ctlQueryId);
  f.Link.ScanPeers();
  EXPECT_TRUE(f.Link.Peers().empty());
  EXPECT_TRUE(f.Link.Pending().empty());

  EXPECT_FALSE(f.Link.HandleMessage(0x100, PackParam(cmdVolume, 150), code, parameter));
  EXPECT_EQ(code, cmdVolume);
  EXPECT_EQ(parameter, 150);
  EXPECT_FALSE(f.Link.HandleMessage(0x100, 0x7FFEFFFF, code, parameter));
  EXPECT_EQ(code, 0x7FFE);
  EXPECT_EQ(parameter, 0xFFFF);
  EXPECT_TRUE(f.Link.Pending().empty());
}

TEST(Transport, NotificationsGoToActivePeersOfTheKindInAscendingSignedHandleOrder) {
  TTransportFixture f;
  for (TWnd w : {TWnd{0x300}, TWnd{0x100}, TWnd{-0x7000}, TWnd{0x200}}) f.Desktop.Add(w);
  f.Hello(0x300);
  f.Hello(0x100);
  f.Link.ScanPeers();
  f.Hello(-0x7000);
  f.Hello(0x200);
  f.Link.ScanPeers();
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{-0x7000, 0x100, 0x200, 0x300}));

  f.Link.Notify(ntfSilence);
  EXPECT_EQ(f.Desktop.Receivers(), (std::vector<TWnd>{-0x7000, 0x100, 0x200, 0x300}));
  for (const auto& s : f.Desktop.Sent) EXPECT_EQ(s.Packed, PackParam(ntfSilence, 0));
  f.Desktop.Sent.clear();
  f.Link.NotifyPeers(1, ntfSound, 0);
  EXPECT_TRUE(f.Desktop.Sent.empty()) << "every peer is of kind 0";

  const uint8_t bytes[3] = {1, 2, 3};
  f.Link.BroadcastData(StreamCode, StreamParameter, bytes, 3);
  EXPECT_EQ(f.Desktop.Receivers(), (std::vector<TWnd>{-0x7000, 0x100, 0x200, 0x300}));
  EXPECT_TRUE(f.Desktop.Sent[0].CopyData);
  EXPECT_EQ(f.Desktop.Sent[0].Packed, 0u);
  EXPECT_EQ(f.Desktop.Sent[0].Data, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Transport, ScanDropsVanishedWindowsAndWindowsOfAnotherClass) {
  TTransportFixture f;
  f.Desktop.Add(0x100, "A");
  f.Desktop.Add(0x200, "B");
  f.Desktop.Add(0x300, "C");
  for (TWnd w : {0x100, 0x200, 0x300}) f.Hello(w);
  f.Link.ScanPeers();
  ASSERT_EQ(f.Link.Peers().size(), 3u);
  f.Events.clear();

  f.Desktop.Windows.erase(0x100);
  f.Desktop.Windows[0x200].Class = "b";  // same handle, another window
  // An announcement of something that is not a top-level window never becomes a peer.
  f.Hello(0x555);
  f.Link.ScanPeers();
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x300}));
  EXPECT_EQ(f.Events, (std::vector<std::string>{"lost 1365", "lost 256", "lost 512"}));
  EXPECT_TRUE(f.Link.Pending().empty());
}

TEST(Transport, LongClassNamesAreCutAndStillMatchAtLaterScans) {
  TTransportFixture f;
  f.Desktop.Add(0x100, std::string(300, 'x'));
  f.Hello(0x100);
  f.Link.ScanPeers();
  f.Link.ScanPeers();
  ASSERT_EQ(f.Link.Peers().size(), 1u);
  EXPECT_EQ(f.Link.Peers()[0].WndClass, std::string(MaxWndClass, 'x'));
}

TEST(Transport, APeerThatDoesNotAnswerIsDroppedAtItsFirstTimeout) {
  TTransportFixture f;
  for (TWnd w : {0x100, 0x200, 0x300}) {
    f.Desktop.Add(w);
    f.Hello(w);
  }
  f.Link.ScanPeers();
  f.Events.clear();
  f.Desktop.Windows[0x200].Hung = true;
  f.Link.NotifyPeers(0, ntfOnline, 0);
  EXPECT_EQ(f.Desktop.Receivers(), (std::vector<TWnd>{0x100, 0x200, 0x300}));
  EXPECT_EQ(f.Desktop.WaitedMs, f.Link.SendTimeoutMs);
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x100, 0x300}));
  EXPECT_EQ(f.Events, (std::vector<std::string>{"lost 512"}));
  EXPECT_EQ(f.Link.UnansweredDrops(), 1u);

  // Later sends do not wait for it again, data included.
  f.Desktop.Sent.clear();
  const uint8_t b = 0;
  f.Link.BroadcastData(0, 0, &b, 1);
  f.Link.NotifyPeers(0, ntfSound, 0);
  EXPECT_EQ(f.Desktop.Receivers(), (std::vector<TWnd>{0x100, 0x300, 0x100, 0x300}));
  EXPECT_EQ(f.Desktop.WaitedMs, f.Link.SendTimeoutMs);

  // A data send that times out drops the peer too; an announcement that does not answer is
  // forgotten before its scan.
  f.Desktop.Windows[0x300].Hung = true;
  f.Link.BroadcastData(0, 0, &b, 1);
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x100}));
  f.Hello(0x300);
  EXPECT_FALSE(f.Link.SendCommand(0x300, ntfSound, 0).has_value());
  EXPECT_TRUE(f.Link.Pending().empty());
  EXPECT_EQ(f.Link.UnansweredDrops(), 3u);
}

TEST(Transport, SendsToAClosedWindowFailAtOnceAndTheScanDropsIt) {
  TTransportFixture f;
  f.Desktop.Add(0x100);
  f.Desktop.Windows[0x100].Result = -5;
  f.Hello(0x100);
  f.Link.ScanPeers();
  EXPECT_EQ(f.Link.SendCommand(0x100, ctlCode, ctlQueryId), std::optional<int32_t>(-5));
  f.Desktop.Windows.clear();
  EXPECT_FALSE(f.Link.SendCommand(0x100, ntfSound, 0).has_value());
  EXPECT_FALSE(f.Link.SendData(0x100, 0, 0, nullptr, 0));
  EXPECT_EQ(f.Desktop.WaitedMs, 0u);
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x100})) << "left to the scan";
  f.Link.ScanPeers();
  EXPECT_TRUE(f.Link.Peers().empty());
  EXPECT_EQ(f.Link.UnansweredDrops(), 0u);
}

TEST(Transport, PeersAnnouncedOrWithdrawnDuringAWalkDoNotUpsetIt) {
  TTransportFixture f;
  for (TWnd w : {0x100, 0x200, 0x300, 0x400}) f.Desktop.Add(w);
  for (TWnd w : {0x100, 0x200, 0x300}) f.Hello(w);
  f.Link.ScanPeers();
  // While the first peer is being notified, the third withdraws and a fourth announces itself;
  // while the second is, the first withdraws.
  f.Desktop.DuringSend[0x100] = [&] {
    f.Bye(0x300);
    f.Hello(0x400);
  };
  f.Desktop.DuringSend[0x200] = [&] { f.Bye(0x100); };
  f.Link.NotifyPeers(0, ntfOnline, 0);
  EXPECT_EQ(f.Desktop.Receivers(), (std::vector<TWnd>{0x100, 0x200}));
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x200}));
  ASSERT_EQ(f.Link.Pending().size(), 1u);
  f.Desktop.DuringSend.clear();
  f.Link.ScanPeers();
  f.Desktop.Sent.clear();
  const uint8_t b = 7;
  // A peer withdrawing itself while its data is delivered is simply gone afterwards.
  f.Desktop.DuringSend[0x200] = [&] { f.Bye(0x200); };
  f.Link.BroadcastData(0, 0, &b, 1);
  EXPECT_EQ(f.Desktop.Receivers(), (std::vector<TWnd>{0x200, 0x400}));
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x400}));
}

TEST(Transport, EventHandlersMayAnnounceAndScanWithoutUpsettingTheScan) {
  TTransportFixture f;
  for (TWnd w : {0x100, 0x200, 0x300}) f.Desktop.Add(w);
  f.Hello(0x100);
  f.Hello(0x200);
  f.Link.OnPeerFound = [&](TWinMSG& link, const TPeerWindow& p) {
    f.Events.push_back("found " + std::to_string(p.Wnd));
    link.ScanPeers();  // nested: does nothing
    link.AddPending(0x300);
    link.RemovePeer(0x100);
  };
  f.Link.ScanPeers();
  EXPECT_EQ(f.Desktop.Enumerations, 1);
  // 0x100 was withdrawn by the handler of its own confirmation; the scan went on with 0x200.
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x200}));
  EXPECT_EQ(f.Events, (std::vector<std::string>{"found 256", "lost 256", "found 512"}));
  ASSERT_EQ(f.Link.Pending().size(), 1u);
  EXPECT_EQ(f.Link.Pending()[0].Wnd, 0x300);
}

TEST(Transport, AnnouncementsWaitingForAScanAreBounded) {
  TTransportFixture f;
  for (TWnd w = 1; w <= 3000; ++w) f.Hello(w * 16);
  EXPECT_EQ(f.Link.Pending().size(), TWinMSG::MaxPending);
  f.Hello(0);
  f.Link.ScanPeers();
  EXPECT_TRUE(f.Link.Pending().empty());
  f.Desktop.Add(0x10);
  f.Hello(0x10);
  f.Link.ScanPeers();
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x10}));
}

TEST(Transport, FindPeerAndRefusedSends) {
  TPeerList list;
  EXPECT_EQ(TWinMSG::FindPeer(list, 5), -1);
  for (TWnd w : {-9, -3, 0, 4, 8, 15}) list.push_back({true, w, 0, "c"});
  for (int i = 0; i < 6; ++i) EXPECT_EQ(TWinMSG::FindPeer(list, list[i].Wnd), i);
  EXPECT_EQ(TWinMSG::FindPeer(list, 5), -1);
  EXPECT_EQ(TWinMSG::FindPeer(list, 16), -1);
  EXPECT_EQ(TWinMSG::FindPeer(list, -10), -1);

  TTransportFixture f;
  f.Desktop.Add(0x100);
  EXPECT_FALSE(f.Link.SendCommand(0x100, 0x8000, 0).has_value());
  EXPECT_FALSE(f.Link.SendData(0x100, 0x8000, 0, nullptr, 0));
  EXPECT_FALSE(f.Link.SendData(0x100, 0, 0, nullptr, -1));
  EXPECT_TRUE(f.Desktop.Sent.empty());
}

}  // namespace

TEST(Transport, AWindowIsNotItsOwnPeerAndLossesSayWhy) {
  TTransportFixture f;
  f.Desktop.Add(Own, "TOV_Kestrune");
  f.Desktop.Add(0x100, "TController");
  f.Desktop.Add(0x200, "TController");
  f.Desktop.Add(0x300, "TController");
  // Our own handle in wParam (a message we sent ourselves, or a forged one) announces nothing.
  f.Hello(Own);
  for (TWnd w : {0x100, 0x200, 0x300, 0x999}) f.Hello(w);
  std::vector<TPeerLoss> reasons;
  f.Link.OnPeerLost = [&](TWinMSG& link, const TPeerWindow&) {
    reasons.push_back(link.LostReason());
  };
  f.Link.ScanPeers();
  EXPECT_EQ(f.PeerHandles(), (std::vector<TWnd>{0x100, 0x200, 0x300}));
  f.Bye(0x100);
  f.Desktop.Windows.erase(0x200);
  f.Link.ScanPeers();
  f.Desktop.Windows[0x300].Hung = true;
  f.Link.NotifyPeers(0, ntfSound, 0);
  EXPECT_EQ(reasons, (std::vector<TPeerLoss>{TPeerLoss::NotConfirmed, TPeerLoss::Withdrew,
                                             TPeerLoss::Vanished, TPeerLoss::NoAnswer}));
  EXPECT_TRUE(f.Link.Peers().empty());
}
