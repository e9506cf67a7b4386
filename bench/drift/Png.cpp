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

// A zlib stream of stored deflate blocks (at most 65535 bytes each).
std::vector<uint8_t> ZlibStored(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t pos = 0;
  do {
    const size_t n = std::min<size_t>(65535, raw.size() - pos);
    const bool last = pos + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
    pos += n;
  } while (pos < raw.size());
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
  for (int y = 0; y < Height_; ++y) {
    raw.push_back(0);  // filter: none
    const auto row = Pixels.begin() + static_cast<size_t>(y) * Width_ * 3;
    raw.insert(raw.end(), row, row + static_cast<size_t>(Width_) * 3);
  }
  PutChunk(out, "IDAT", ZlibStored(raw));
  PutChunk(out, "IEND", {});
  return out;
}

bool TRgbImage::SavePng(const std::string& path) const {
  const auto bytes = EncodePng();
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}
