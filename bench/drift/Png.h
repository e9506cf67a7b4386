#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An RGB image kept in memory and written as a PNG without a compression library: the rows are
// filtered against the row above and deflated with runs of repeated bytes only.
class TRgbImage {
 public:
  TRgbImage(int width, int height, uint32_t background);

  int Width() const { return Width_; }
  int Height() const { return Height_; }
  // Colours are 0xRRGGBB; points outside the image are ignored.
  void Set(int x, int y, uint32_t rgb);
  uint32_t Get(int x, int y) const;
  void HLine(int x0, int x1, int y, uint32_t rgb);
  void VLine(int x, int y0, int y1, uint32_t rgb);

  // False when the file cannot be written.
  bool SavePng(const std::string& path) const;
  // The PNG file's bytes.
  std::vector<uint8_t> EncodePng() const;

 private:
  int Width_;
  int Height_;
  std::vector<uint8_t> Pixels;  // RGB, row by row
};
