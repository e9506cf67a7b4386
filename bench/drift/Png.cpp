#include "Png.h"

#include <algorithm>
#include <array>
#include <fstream>

namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t Adler32(const std::vector<uint8_t>& data) {
  uint32_t a = 1, b = 0;
  for (uint8_t v : data) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  PutBE32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBE32(out, Crc32(out.data() + start, out.size() - start));
}

// Deflate's bit stream: values go in least significant bit first, Huffman codes most
// significant bit first.
class TBitWriter {
 public:
  explicit TBitWriter(std::vector<uint8_t>& out) : Out(out) {}
  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Put((value >> i) & 1);
  }
  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Put((code >> i) & 1);
  }
  void Flush() {
    if (Used > 0) Out.push_back(Byte);
    Byte = 0;
    Used = 0;
  }

 private:
  void Put(uint32_t bit) {
    Byte |= static_cast<uint8_t>(bit << Used);
    if (++Used == 8) Flush();
  }
  std::vector<uint8_t>& Out;
  uint8_t Byte = 0;
  int Used = 0;
};

// The fixed Huffman code of a literal/length symbol.
void FixedSymbol(TBitWriter& w, uint32_t symbol) {
  if (symbol < 144)
    w.Code(0x30 + symbol, 8);
  else if (symbol < 256)
    w.Code(0x190 + symbol - 144, 9);
  else if (symbol < 280)
    w.Code(symbol - 256, 7);
  else
    w.Code(0xC0 + symbol - 280, 8);
}

// A run of length 3..258 repeating the byte before it (distance 1).
void RunOf(TBitWriter& w, uint32_t length) {
  static constexpr uint16_t Base[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                        15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                        67, 83, 99, 115, 131, 163, 195, 227, 258};
  static constexpr uint8_t Extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  int i = 28;
  while (Base[i] > length) --i;
  FixedSymbol(w, 257 + i);
  w.Bits(length - Base[i], Extra[i]);
  w.Code(0, 5);  // distance code 0: one byte back
}

// A zlib stream in one fixed-code deflate block whose only matches are runs of one byte: enough
// for a plot whose rows, filtered against the row above, are mostly zeros.
std::vector<uint8_t> ZlibRuns(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> z = {0x78, 0x01};
  TBitWriter w(z);
  w.Bits(1, 1);  // last block
  w.Bits(1, 2);  // fixed codes
  size_t i = 0;
  while (i < raw.size()) {
    FixedSymbol(w, raw[i]);
    size_t run = 0;
    while (i + 1 + run < raw.size() && run < 258 && raw[i + 1 + run] == raw[i]) ++run;
    if (run >= 3) {
      RunOf(w, static_cast<uint32_t>(run));
      i += run;
    }
    ++i;
  }
  FixedSymbol(w, 256);
  w.Flush();
  PutBE32(z, Adler32(raw));
  return z;
}

}  // namespace

TRgbImage::TRgbImage(int width, int height, uint32_t background)
    : Width_(std::max(1, width)), Height_(std::max(1, height)) {
  Pixels.resize(static_cast<size_t>(Width_) * Height_ * 3);
  for (int y = 0; y < Height_; ++y)
    for (int x = 0; x < Width_; ++x) Set(x, y, background);
}

void TRgbImage::Set(int x, int y, uint32_t rgb) {
  if (x < 0 || y < 0 || x >= Width_ || y >= Height_) return;
  uint8_t* p = &Pixels[(static_cast<size_t>(y) * Width_ + x) * 3];
  p[0] = static_cast<uint8_t>(rgb >> 16);
  p[1] = static_cast<uint8_t>(rgb >> 8);
  p[2] = static_cast<uint8_t>(rgb);
}

uint32_t TRgbImage::Get(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width_ || y >= Height_) return 0;
  const uint8_t* p = &Pixels[(static_cast<size_t>(y) * Width_ + x) * 3];
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

void TRgbImage::HLine(int x0, int x1, int y, uint32_t rgb) {
  for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x) Set(x, y, rgb);
}

void TRgbImage::VLine(int x, int y0, int y1, uint32_t rgb) {
  for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y) Set(x, y, rgb);
}

std::vector<uint8_t> TRgbImage::EncodePng() const {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBE32(header, static_cast<uint32_t>(Width_));
  PutBE32(header, static_cast<uint32_t>(Height_));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  PutChunk(out, "IHDR", header);
  std::vector<uint8_t> raw;
  raw.reserve((static_cast<size_t>(Width_) * 3 + 1) * Height_);
  const size_t stride = static_cast<size_t>(Width_) * 3;
  for (int y = 0; y < Height_; ++y) {
    raw.push_back(2);  // filter "up": each byte less the one above it
    const uint8_t* row = &Pixels[y * stride];
    for (size_t x = 0; x < stride; ++x)
      raw.push_back(static_cast<uint8_t>(row[x] - (y > 0 ? row[x - stride] : 0)));
  }
  PutChunk(out, "IDAT", ZlibRuns(raw));
  PutChunk(out, "IEND", {});
  return out;
}

bool TRgbImage::SavePng(const std::string& path) const {
  const auto bytes = EncodePng();
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}
