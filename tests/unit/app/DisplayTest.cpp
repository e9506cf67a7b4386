#include "MainFixture.h"
#include "ui/PixelCanvas.h"

namespace {

// Gives an image control an in-memory picture, as the window gives it a real one.
struct TPictureView : TControlView {
  explicit TPictureView(TControl& image) : Picture(image.Width(), image.Height()) {}
  void Update(const TControl&) override {}
  TCanvas* Canvas() override { return &Picture; }
  TPixelCanvas Picture;
};

}  // namespace

class DisplayTest : public MainFixture {
 protected:
  void CreateWithPictures() {
    Form = std::make_unique<TOV_Kestrune>(Services);
    Out = std::make_unique<TPictureView>(Form->ImgDST);
    In = std::make_unique<TPictureView>(Form->ImgSrc);
    Form->ImgDST.Bind(Out.get());
    Form->ImgSrc.Bind(In.get());
    App.Attach(Form->TimerWork);
    App.Attach(Form->FaderTick);
    Form->FormCreate();
  }
  ~DisplayTest() override {
    if (Form) Form->FormClose();
    Form.reset();
  }

  // The colour of the upper bar's segment for d dB in style 0 (d from -24 to 0).
  static TColor At(const TPixelCanvas& c, int dB) { return c.Pixel((dB + 24) * 310 / 25 + 2, 3); }

  std::unique_ptr<TPictureView> Out, In;
};

TEST_F(DisplayTest, MetersFollowTheDevicesAndFallSilentWhenClosed) {
  Ini.Set("Auto", "1");
  Ini.Set("FadeIn", "0");
  CreateWithPictures();
  const TColor unlitGreen{0, 128, 0}, litGreen{0, 255, 0};
  EXPECT_EQ(At(In->Picture, -24), unlitGreen);
  RunUntilStatus("Online", 400);
  Run(500);
  // A sine peaking at 8000 is -12.2 dB: lit up to -12, unlit above.
  EXPECT_EQ(At(In->Picture, -24), litGreen);
  EXPECT_EQ(At(In->Picture, -12), (TColor{109, 255, 0}));
  EXPECT_EQ(At(In->Picture, -11), (TColor{73, 128, 0}));
  EXPECT_EQ(At(Out->Picture, -12), (TColor{109, 255, 0}))
      << "volume 100 plays it at the same level";

  Form->SBStopClick();
  Run(20);
  EXPECT_EQ(At(In->Picture, -24), unlitGreen);
  EXPECT_EQ(At(Out->Picture, -24), unlitGreen);
}

TEST_F(DisplayTest, ClicksCycleTheStylesAndADeviceErrorResetsThem) {
  Ini.Set("Auto", "1");
  CreateWithPictures();
  Form->ImgSrc.Click();
  Form->ImgSrc.Click();
  EXPECT_EQ(Form->Leds.GetLedStyle(0), 2);
  Form->ImgSrc.Click();
  Form->ImgSrc.Click();
  EXPECT_EQ(Form->Leds.GetLedStyle(0), 0);
  Form->ImgDST.Click();
  EXPECT_EQ(Form->Leds.GetLedStyle(1), 1);
  EXPECT_EQ(Form->Leds.GetLedStyle(0), 0);

  RunUntilStatus("Online", 400);
  Form->ImgSrc.Click();
  Sim.FailNext(TSimCall::OutWrite, MMSYSERR_NOMEM);
  RunUntilStatus("WAIT", 300);
  EXPECT_EQ(Form->Leds.GetLedStyle(0), 0);
  EXPECT_EQ(Form->Leds.GetLedStyle(1), 0);
}
