#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ui/LedMetter.h"
#include "ui/PixelCanvas.h"

namespace {

constexpr TColor Black{0, 0, 0};
constexpr TColor White{255, 255, 255};
constexpr TColor Lime{0, 255, 0};
constexpr TColor Red{255, 0, 0};

// The meter's colours by decibel, as the design gives them.
struct TRow {
  int FromDb, ToDb;
  TColor Off, On;
};
const std::vector<TRow> ColorTable = {
    {-90, -15, {0, 128, 0}, {0, 255, 0}},    {-14, -14, {18, 128, 0}, {36, 255, 0}},
    {-13, -13, {36, 128, 0}, {72, 255, 0}},  {-12, -12, {54, 128, 0}, {109, 255, 0}},
    {-11, -11, {73, 128, 0}, {145, 255, 0}}, {-10, -10, {91, 128, 0}, {182, 255, 0}},
    {-9, -9, {109, 128, 0}, {218, 255, 0}},  {-8, -5, {128, 128, 0}, {255, 255, 0}},
    {-4, -4, {128, 96, 0}, {255, 191, 0}},   {-3, -3, {128, 64, 0}, {255, 127, 0}},
    {-2, -2, {128, 32, 0}, {255, 63, 0}},    {-1, 0, {128, 0, 0}, {255, 0, 0}},
};

const TRow& RowFor(int d) {
  for (auto& r : ColorTable)
    if (d >= r.FromDb && d <= r.ToDb) return r;
  ADD_FAILURE() << "no colour for " << d;
  return ColorTable.front();
}

// Meter 0 on a 310 x 25 picture, the size of the main window's images.
class LedMeterTest : public ::testing::Test {
 protected:
  void Setup(int style) {
    Meters.SetupLed(0, &Canvas, style);
    Canvas.ClearLog();
  }
  const std::vector<TLedSegment>& Bar(int k) const { return Meters.Led(0)->Bars[k]; }
  int Range() const { return LedRanges[Meters.GetLedStyle(0)]; }
  // The colour in the middle of the segment for decibel d of bar k, as drawn.
  TColor DrawnAt(int k, int d) const {
    const TLedSegment& s = Bar(k)[d + Range()];
    return Canvas.Pixel((s.Left + s.Right - 1) / 2, (s.Top + s.Bottom - 1) / 2);
  }
  // Checks every segment of bar k: lit (on colour) up to and including decibel lastLit,
  // unlit above.
  void ExpectLitUpTo(int k, int lastLit) const {
    for (int d = -Range(); d <= 0; ++d) {
      const TRow& row = RowFor(d);
      const TColor want = d <= lastLit ? row.On : row.Off;
      EXPECT_EQ(DrawnAt(k, d), want) << "bar " << k << " at " << d << " dB";
    }
  }

  TPixelCanvas Canvas{310, 25};
  TLedMeters Meters;
};

TEST_F(LedMeterTest, Style0GeometryOn310x25) {
  Setup(0);
  ASSERT_EQ(Bar(0).size(), 25u);
  ASSERT_EQ(Bar(1).size(), 25u);

  // Columns of segments 0, 1 and 24 with the black column after each.
  const struct { int Segment, First, Last; } spans[] = {{0, 0, 10}, {1, 12, 22}, {24, 297, 308}};
  for (auto& s : spans) {
    const TColor off = RowFor(s.Segment - 24).Off;
    for (int row : {1, 6, 18, 23}) {
      EXPECT_EQ(Canvas.Pixel(s.First, row), off) << s.Segment << " row " << row;
      EXPECT_EQ(Canvas.Pixel(s.Last, row), off) << s.Segment << " row " << row;
      EXPECT_EQ(Canvas.Pixel(s.Last + 1, row), Black) << s.Segment << " row " << row;
    }
  }
  // Upper bar rows 1..6, lower bar rows 18..23, black around and between them.
  for (int row = 0; row < 25; ++row) {
    const bool inBar = (row >= 1 && row <= 6) || (row >= 18 && row <= 23);
    EXPECT_EQ(Canvas.Pixel(5, row) != Black, inBar) << "row " << row;
  }

  Canvas.ClearLog();
  Meters.SetupLed(0, &Canvas, 0);
  std::vector<TPixelCanvas::TPrinted> labels = Canvas.Texts();
  ASSERT_EQ(labels.size(), 4u);
  const struct {
    std::string Text;
    int X;
    TColor Color;
  } want[] = {{"-24", 0, Lime}, {"-20", 49, Lime}, {"-12", 148, Lime}, {"-3", 260, Red}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(labels[i].Text, want[i].Text);
    EXPECT_EQ(labels[i].X, want[i].X) << want[i].Text;
    EXPECT_EQ(labels[i].Y, 6) << want[i].Text;
    EXPECT_EQ(labels[i].Color, want[i].Color) << want[i].Text;
  }
}

TEST_F(LedMeterTest, EveryStyleSpansThePictureWithLabelsAndTableColours) {
  const std::vector<std::vector<std::string>> labels = {
      {"-24", "-20", "-12", "-3"},
      {"-41", "-41", "-20", "-12", "-3"},  // the left end is also the -41 mark
      {"-60", "-60", "-41", "-20", "-12", "-3"},
      {"-90", "-60", "-41", "-20", "-12", "-3"}};
  for (int style = 0; style < 4; ++style) {
    Canvas.ClearLog();
    Meters.SetupLed(0, &Canvas, style);
    const int range = LedRanges[style];
    ASSERT_EQ(Bar(0).size(), static_cast<size_t>(range + 1));
    EXPECT_EQ(Bar(0).front().Left, 0);
    EXPECT_EQ(Bar(0).back().Right, 309) << "style " << style;
    for (int k = 0; k < 2; ++k)
      for (int i = 0; i <= range; ++i) {
        const TLedSegment& s = Bar(k)[i];
        EXPECT_EQ(s.OffColor, RowFor(i - range).Off) << style << "/" << i;
        EXPECT_EQ(s.OnColor, RowFor(i - range).On) << style << "/" << i;
        if (i > 0) {
          EXPECT_EQ(s.Left, Bar(k)[i - 1].Right + 1) << style << "/" << i;
        }
      }
    std::vector<std::string> texts;
    for (auto& t : Canvas.Texts()) {
      texts.push_back(t.Text);
      // A label stands at the left edge of the segment for its decibel.
      const int d = std::stoi(t.Text);
      EXPECT_EQ(t.X, Bar(0)[d + range].Left) << t.Text;
    }
    EXPECT_EQ(texts, labels[style]) << "style " << style;
  }
}

TEST_F(LedMeterTest, LevelsLightSegmentsUpToTheirDecibel) {
  Setup(0);
  Meters.ShowLed(0, &Canvas, -6.5, -30.0);
  ExpectLitUpTo(0, -6);
  ExpectLitUpTo(1, -25);  // nothing lit

  Meters.ShowLed(0, &Canvas, -6.0, -30.0);
  ExpectLitUpTo(0, -5);

  // Within the last 0.1 dB below a whole decibel, and at it, the next one up counts.
  const struct {
    double Level;
    int LastLit;
  } cases[] = {{-12.95, -12}, {-12.5, -12}, {-12.05, -11}, {-12.0, -11},
               {-24.2, -24},  {-25.0, -24}, {-25.15, -25}};
  for (auto& c : cases) {
    Meters.ShowLed(0, &Canvas, c.Level, c.Level);
    ExpectLitUpTo(0, c.LastLit);
    ExpectLitUpTo(1, c.LastLit);
  }
}

TEST_F(LedMeterTest, FullScaleTurnsTheZeroSegmentWhite) {
  Setup(0);
  for (double level : {-0.5, -1.05, 0.0}) {
    Meters.ShowLed(0, &Canvas, level, level);
    for (int k = 0; k < 2; ++k) {
      for (int d = -24; d < 0; ++d) EXPECT_EQ(DrawnAt(k, d), RowFor(d).On) << level << " " << d;
      EXPECT_EQ(DrawnAt(k, 0), White) << level;
      EXPECT_EQ(Bar(k).back().State, 2);
    }
  }
  // Just under -1.1 dB the top segment is lit red, not white.
  Meters.ShowLed(0, &Canvas, -1.15, -1.15);
  ExpectLitUpTo(0, -1);
  EXPECT_EQ(DrawnAt(0, 0), RowFor(0).Off);
}

TEST_F(LedMeterTest, OnlyChangedSegmentsArePainted) {
  Setup(0);
  Meters.ShowLed(0, &Canvas, -0.5, -0.5);
  Canvas.ClearLog();

  Meters.ShowLed(0, &Canvas, -3.5, -3.5);
  // The segments for -2, -1 and 0 of each bar, back to unlit, and nothing else.
  ASSERT_EQ(Canvas.Fills().size(), 6u);
  for (size_t n = 0; n < 6; ++n) {
    const int k = static_cast<int>(n / 3), d = static_cast<int>(n % 3) - 2;
    const TLedSegment& s = Bar(k)[d + 24];
    const auto& f = Canvas.Fills()[n];
    EXPECT_EQ(f.Left, s.Left);
    EXPECT_EQ(f.Top, s.Top);
    EXPECT_EQ(f.Right, s.Right);
    EXPECT_EQ(f.Bottom, s.Bottom);
    EXPECT_EQ(f.Color, RowFor(d).Off) << d;
  }
  ExpectLitUpTo(0, -3);
  ExpectLitUpTo(1, -3);
  EXPECT_EQ(Canvas.Shown(), 1);
  EXPECT_EQ(Canvas.UnlockedDraws(), 0);
  EXPECT_EQ(Canvas.LockDepth(), 0);

  // A steady level costs nothing, not even a repaint.
  Canvas.ClearLog();
  for (int i = 0; i < 10; ++i) Meters.ShowLed(0, &Canvas, -3.5, -3.45);
  EXPECT_TRUE(Canvas.Fills().empty());
  EXPECT_EQ(Canvas.Shown(), 0);
}

TEST_F(LedMeterTest, SilenceLightsOnlyTheWidestScale) {
  for (int style = 0; style < 4; ++style) {
    Setup(style);
    const int leftmost = -LedRanges[style];
    // The first drawing after a set-up leaves everything unlit.
    ExpectLitUpTo(0, leftmost - 1);
    ExpectLitUpTo(1, leftmost - 1);

    Meters.ShowLed(0, &Canvas, -90.3, -90.3);
    const int lastLit = style == 3 ? -90 : leftmost - 1;
    ExpectLitUpTo(0, lastLit);
    ExpectLitUpTo(1, lastLit);
  }
}

TEST_F(LedMeterTest, LevelsThatAreNoNumberOrHugeStayDefined) {
  Setup(3);
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Meters.ShowLed(0, &Canvas, inf, -inf);
  EXPECT_EQ(DrawnAt(0, 0), White);
  ExpectLitUpTo(1, -91);
  Meters.ShowLed(0, &Canvas, nan, 1e300);
  ExpectLitUpTo(0, -91);
  EXPECT_EQ(DrawnAt(1, 0), White);
  Meters.ShowLed(0, &Canvas, -1e300, nan);
  ExpectLitUpTo(0, -91);
  ExpectLitUpTo(1, -91);
}

TEST_F(LedMeterTest, StylesWrapAndIndexesOutsideTheMetersAreIgnored) {
  Meters.SetupLed(1, &Canvas, 0);
  for (int click = 1; click <= 4; ++click) {
    Meters.SetLedStyle(1, &Canvas, Meters.GetLedStyle(1) + 1);
    EXPECT_EQ(Meters.GetLedStyle(1), click % 4);
    EXPECT_EQ(Meters.Led(1)->Bars[0].size(), static_cast<size_t>(LedRanges[click % 4] + 1));
  }
  Meters.SetLedStyle(1, &Canvas, 2);
  Meters.SetLedStyle(1, &Canvas, 7);
  EXPECT_EQ(Meters.GetLedStyle(1), 0);
  EXPECT_EQ(Meters.Led(1)->Bars[0].size(), 25u);
  Meters.SetupLed(1, &Canvas, -2);
  EXPECT_EQ(Meters.GetLedStyle(1), 0);

  EXPECT_EQ(Meters.GetLedStyle(5), -1);
  EXPECT_EQ(Meters.GetLedStyle(-1), -1);
  EXPECT_EQ(Meters.Led(5), nullptr);
  Canvas.ClearLog();
  Meters.SetLedStyle(5, &Canvas, 1);
  Meters.SetLedStyle(-1, &Canvas, 1);
  Meters.SetupLed(5, &Canvas, 1);
  Meters.ShowLed(-1, &Canvas, 0, 0);
  // A meter never set up has no segments to show.
  Meters.ShowLed(4, &Canvas, 0, 0);
  EXPECT_TRUE(Canvas.Fills().empty());
  EXPECT_TRUE(Canvas.Texts().empty());
  EXPECT_EQ(Canvas.Shown(), 0);
}

TEST_F(LedMeterTest, MetersAreIndependent) {
  TPixelCanvas other(310, 25);
  Meters.SetupLed(0, &Canvas, 0);
  Meters.SetupLed(1, &other, 3);
  Meters.ShowLed(1, &other, -0.5, -0.5);
  Canvas.ClearLog();
  Meters.ShowLed(0, &Canvas, -100, -100);
  EXPECT_TRUE(Canvas.Fills().empty());
  EXPECT_EQ(Meters.GetLedStyle(0), 0);
  EXPECT_EQ(Meters.GetLedStyle(1), 3);
}

TEST(LedMeterSize, SmallPicturesDrawOnlyInsideThemselves) {
  const struct {
    int W, H;
  } sizes[] = {{0, 0}, {1, 1}, {5, 5}, {30, 10}, {90, 12}, {310, 0}, {0, 25}, {40, 25}};
  for (auto& size : sizes)
    for (int style = 0; style < 4; ++style) {
      TPixelCanvas canvas(size.W, size.H);
      TLedMeters meters;
      meters.SetupLed(2, &canvas, style);
      meters.ShowLed(2, &canvas, -0.5, -90.3);
      meters.ShowLed(2, &canvas, -50, -3);
      for (auto& f : canvas.Fills()) {
        EXPECT_TRUE(f.Left >= 0 && f.Top >= 0 && f.Left < f.Right && f.Top < f.Bottom &&
                    f.Right <= size.W && f.Bottom <= size.H)
            << size.W << "x" << size.H << " style " << style << ": " << f.Left << "," << f.Top
            << "," << f.Right << "," << f.Bottom;
      }
      for (auto& t : canvas.Texts())
        EXPECT_TRUE(t.X >= 0 && t.Y >= 0 && t.X < size.W && t.Y < size.H) << t.Text;
      EXPECT_EQ(canvas.LockDepth(), 0);
    }
}

TEST(LedMeterSize, APictureThatShrankIsNotDrawnPast) {
  TPixelCanvas canvas(310, 25);
  TLedMeters meters;
  meters.SetupLed(0, &canvas, 0);
  canvas.Resize(100, 10);
  canvas.ClearLog();
  meters.ShowLed(0, &canvas, -0.5, -0.5);
  ASSERT_FALSE(canvas.Fills().empty());
  for (auto& f : canvas.Fills()) {
    EXPECT_LE(f.Right, 100);
    EXPECT_LE(f.Bottom, 10);
  }
  // Set up again, the meter fits the new size.
  meters.SetupLed(0, &canvas, 0);
  EXPECT_EQ(meters.Led(0)->Bars[0].back().Right, 99);
}

TEST(LedMeterSize, WithoutAPictureOnlyTheStyleIsKept) {
  TLedMeters meters;
  meters.SetupLed(0, nullptr, 2);
  meters.ShowLed(0, nullptr, -1, -1);
  meters.SetLedStyle(0, nullptr, meters.GetLedStyle(0) + 1);
  EXPECT_EQ(meters.GetLedStyle(0), 3);
  EXPECT_TRUE(meters.Led(0)->Bars[0].empty());
  // A picture that appears later draws nothing until the meter is set up on it.
  TPixelCanvas canvas(310, 25);
  meters.ShowLed(0, &canvas, -1, -1);
  EXPECT_TRUE(canvas.Fills().empty());
}

TEST(MixColorTest, StepsOfTheWayBetweenTwoColours) {
  const TColor green{0, 128, 0}, olive{128, 128, 0}, yellow{255, 255, 0}, red{255, 0, 0};
  EXPECT_EQ(MixColor(green, olive, 0, 7), green);
  EXPECT_EQ(MixColor(green, olive, 7, 7), olive);
  EXPECT_EQ(MixColor(green, olive, 3, 7), (TColor{54, 128, 0}));
  EXPECT_EQ(MixColor(yellow, red, 1, 4), (TColor{255, 191, 0}));
  EXPECT_EQ(MixColor(yellow, red, 2, 4), (TColor{255, 127, 0}));
  EXPECT_EQ(MixColor(yellow, red, 3, 4), (TColor{255, 63, 0}));
  // No steps: the first colour.
  EXPECT_EQ(MixColor(yellow, red, 3, 0), yellow);
  EXPECT_EQ(MixColor(yellow, red, 3, -4), yellow);
  // Beyond either end the colour stays at the end of the range instead of wrapping.
  EXPECT_EQ(MixColor(green, olive, 14, 7), (TColor{255, 128, 0}));
  EXPECT_EQ(MixColor(olive, green, 14, 7), (TColor{0, 128, 0}));
  EXPECT_EQ(MixColor(yellow, red, -4, 4), (TColor{255, 255, 0}));
}

}  // namespace
