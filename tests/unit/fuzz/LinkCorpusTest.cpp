#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/CommandOracle.h"
#include "fuzz/StreamOracle.h"

// Every input of the peer link's fuzzers' corpora (handwritten cases, and whatever the fuzzers
// once found) passes the fuzzers' checks in the ordinary test run too.

namespace {

namespace fs = std::filesystem;

std::vector<std::vector<uint8_t>> Corpus(const char* name) {
  std::vector<std::vector<uint8_t>> inputs;
  const fs::path dir =
      fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus" / name;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return inputs;
}

TEST(LinkCorpus, EveryStreamInputIsJudgedAndRecordedConsistently) {
  const auto inputs = Corpus("stream");
  EXPECT_GE(inputs.size(), 10u);
  for (const auto& input : inputs) EXPECT_EQ(stream_oracle::Check(input.data(), input.size()), "");
}

TEST(LinkCorpus, EveryCommandInputKeepsTheTransportAndTheQueueSound) {
  const auto inputs = Corpus("commands");
  EXPECT_GE(inputs.size(), 10u);
  for (const auto& input : inputs) EXPECT_EQ(command_oracle::Check(input.data(), input.size()), "");
}

// The oracles catch what they are there for.
TEST(LinkCorpus, TheOraclesSeeAWrongVerdict) {
  // A block the check accepts, recorded: then the same block with a level off by 1 dB.
  std::vector<uint8_t> block(StreamHeaderSize + 8, 0);
  TStreamHeader header;
  header.SampleRate = 44100;
  WriteStreamHeader(header, block.data());
  std::vector<uint8_t> input = {0, 0, 0, 0, static_cast<uint8_t>(block.size()), 0};
  input.insert(input.end(), block.begin(), block.end());
  EXPECT_EQ(stream_oracle::Check(input.data(), input.size()), "");
  EXPECT_EQ(stream_oracle::CheckBlock(0, block.data(), block.size()), "");
  header.LevelLeft = -89.3;
  WriteStreamHeader(header, block.data());
  EXPECT_EQ(CheckStreamBlock(0, block.data(), block.size(), header), TBlockCheck::BadLevels);
}

}  // namespace
