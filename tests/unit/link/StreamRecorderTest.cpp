#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "link/StreamRecorder.h"

namespace {

// A file in memory that holds at most Capacity bytes, like a disk that fills up.
class TMemoryFile : public TRecordFile {
 public:
  std::vector<uint8_t> Bytes;
  size_t Capacity = SIZE_MAX;
  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t& written) override {
    const size_t end = std::min<size_t>(offset + size, Capacity);
    written = end > offset ? static_cast<uint32_t>(end - offset) : 0;
    if (Bytes.size() < offset + written) Bytes.resize(offset + written);
    std::memcpy(Bytes.data() + offset, data, written);
    return written == size;
  }
  bool Truncate(uint64_t size) override {
    Bytes.resize(size);
    return true;
  }
  uint32_t U32(size_t at) const {
    uint32_t v = 0;
    std::memcpy(&v, Bytes.data() + at, 4);
    return v;
  }
  uint16_t U16(size_t at) const {
    uint16_t v = 0;
    std::memcpy(&v, Bytes.data() + at, 2);
    return v;
  }
};

// A stream block as the program sends it: header, then frames of the value.
std::vector<uint8_t> Block(int16_t value, int frames, int32_t rate = 44100) {
  std::vector<int16_t> samples(static_cast<size_t>(frames) * 2, value);
  std::vector<uint8_t> packet(StreamHeaderSize + samples.size() * 2);
  TStreamHeader h;
  h.SampleRate = rate;
  const TBlockLevels levels = StreamLevels(samples.data(), frames * 4);
  h.LevelLeft = levels.Left;
  h.LevelRight = levels.Right;
  WriteStreamHeader(h, packet.data());
  std::memcpy(packet.data() + StreamHeaderSize, samples.data(), samples.size() * 2);
  return packet;
}

// Checks that the file is a complete 16-bit stereo WAV of the rate; returns its frame count.
uint32_t WavFrames(const TMemoryFile& f, uint32_t rate) {
  EXPECT_GE(f.Bytes.size(), 44u);
  EXPECT_EQ(std::memcmp(f.Bytes.data(), "RIFF", 4), 0);
  EXPECT_EQ(std::memcmp(f.Bytes.data() + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(f.U32(16), 16u);
  EXPECT_EQ(f.U16(20), 1u);
  EXPECT_EQ(f.U16(22), 2u);
  EXPECT_EQ(f.U32(24), rate);
  EXPECT_EQ(f.U32(28), rate * 4);
  EXPECT_EQ(f.U16(32), 4u);
  EXPECT_EQ(f.U16(34), 16u);
  EXPECT_EQ(std::memcmp(f.Bytes.data() + 36, "data", 4), 0);
  const uint32_t data = f.U32(40);
  EXPECT_EQ(f.U32(4), data + 36);
  EXPECT_EQ(f.Bytes.size(), 44u + data) << "the header describes the whole file";
  EXPECT_EQ(data % 4, 0u);
  return data / 4;
}

TEST(StreamRecorder, WritesBlocksIntoAWavWhoseHeaderIsAlwaysUpToDate) {
  TMemoryFile file;
  TStreamRecorder rec(file);
  ASSERT_TRUE(rec.Start());
  EXPECT_EQ(WavFrames(file, 44100), 0u) << "an empty recording is a valid file too";
  for (int16_t v : {100, -200, 300}) {
    const auto b = Block(v, 220, 48000);
    EXPECT_EQ(rec.Accept(0, b.data(), b.size()), TStreamRecorder::TResult::Written);
    EXPECT_EQ(WavFrames(file, 48000), rec.FramesWritten());
  }
  EXPECT_EQ(rec.FramesWritten(), 660u);
  EXPECT_EQ(rec.SampleRate(), 48000);
  int16_t s = 0;
  std::memcpy(&s, file.Bytes.data() + 44 + 220 * 4, 2);
  EXPECT_EQ(s, -200);
  const TBlockLevels peak = rec.TakePeakLevels();
  EXPECT_NEAR(peak.Left, 20 * std::log10(300 / 32768.0), 1e-9);
  EXPECT_DOUBLE_EQ(rec.TakePeakLevels().Left, -90.3);
}

TEST(StreamRecorder, MalformedBlocksAndBlocksOfAnotherRateAreRefused) {
  TMemoryFile file;
  TStreamRecorder rec(file);
  ASSERT_TRUE(rec.Start());
  const auto good = Block(1000, 100);
  ASSERT_EQ(rec.Accept(0, good.data(), good.size()), TStreamRecorder::TResult::Written);
  const auto before = file.Bytes;

  auto expectRefused = [&](std::vector<uint8_t> b, TBlockCheck fault, uint32_t dwData = 0) {
    EXPECT_EQ(rec.Accept(dwData, b.data(), b.size()), TStreamRecorder::TResult::Malformed);
    EXPECT_EQ(rec.LastFault(), fault) << BlockCheckText(fault);
    EXPECT_EQ(file.Bytes, before);
  };
  expectRefused(good, TBlockCheck::NotStream, 0x00010000);
  expectRefused(std::vector<uint8_t>(good.begin(), good.begin() + 21), TBlockCheck::TooShort);
  auto b = good;
  b[4] = 1;
  expectRefused(b, TBlockCheck::BadChannels);
  b = good;
  b[5] = 8;
  expectRefused(b, TBlockCheck::BadBits);
  b = good;
  b[0] = 0x39;  // 44089 Hz
  expectRefused(b, TBlockCheck::BadRate);
  b = good;
  b.resize(b.size() - 2);
  expectRefused(b, TBlockCheck::PartFrame);
  b = good;
  b[StreamHeaderSize + 1] = 0x7F;  // a loud sample the levels do not show
  expectRefused(b, TBlockCheck::BadLevels);
  EXPECT_EQ(rec.BlocksRefused(), 7u);

  const auto other = Block(5, 100, 48000);
  EXPECT_EQ(rec.Accept(0, other.data(), other.size()), TStreamRecorder::TResult::RateChanged);
  EXPECT_EQ(file.Bytes, before);
  EXPECT_EQ(rec.Accept(0, good.data(), good.size()), TStreamRecorder::TResult::Written);
  EXPECT_EQ(WavFrames(file, 44100), 200u);
}

TEST(StreamRecorder, TheFrameLimitCutsTheLastBlock) {
  TMemoryFile file;
  TStreamRecorder rec(file);
  rec.FrameLimit = 250;
  ASSERT_TRUE(rec.Start());
  const auto b = Block(7, 100);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(rec.Accept(0, b.data(), b.size()), TStreamRecorder::TResult::Written);
  EXPECT_TRUE(rec.LimitReached());
  EXPECT_EQ(rec.Accept(0, b.data(), b.size()), TStreamRecorder::TResult::Full);
  EXPECT_EQ(WavFrames(file, 44100), 250u);
}

TEST(StreamRecorder, AFullDiskLeavesAValidFileOfTheWholeFramesWritten) {
  TMemoryFile file;
  file.Capacity = 44 + 400 * 4 + 6;  // room for one and a half blocks and a part frame
  TStreamRecorder rec(file);
  ASSERT_TRUE(rec.Start());
  const auto b = Block(-3, 300);
  EXPECT_EQ(rec.Accept(0, b.data(), b.size()), TStreamRecorder::TResult::Written);
  EXPECT_EQ(rec.Accept(0, b.data(), b.size()), TStreamRecorder::TResult::FileError);
  EXPECT_EQ(WavFrames(file, 44100), 401u);
  EXPECT_EQ(rec.FramesWritten(), 401u);
  file.Capacity = SIZE_MAX;
  EXPECT_EQ(rec.Accept(0, b.data(), b.size()), TStreamRecorder::TResult::FileError)
      << "a recording that failed stays stopped";
  EXPECT_EQ(WavFrames(file, 44100), 401u);

  TMemoryFile none;
  none.Capacity = 10;
  TStreamRecorder cannot(none);
  EXPECT_FALSE(cannot.Start());
}

}  // namespace
