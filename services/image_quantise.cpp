// The GIF encoder's median cut. Colours are counted in a histogram of 5
// bits a channel (32,768 cells, each keeping its pixel count and the sums of
// its exact colours). Boxes of cells are split, the box with the most
// pixels times its widest channel range first, at the pixel median of that
// channel, until there are as many boxes as the palette may hold or none
// can be split; each box's colour is the mean of the exact colours in it,
// and every pixel takes the colour of its cell's box (no dithering).
#include <algorithm>

#include "services/image_format_codecs.h"

namespace kiv {

namespace {

constexpr uint32_t kCells = 1u << 15;

uint32_t cell_of(uint32_t pixel) {
  return ((pixel >> 19) & 0x1F) << 10 | ((pixel >> 11) & 0x1F) << 5 | ((pixel >> 3) & 0x1F);
}
uint32_t channel_of(uint32_t cell, int channel) { return (cell >> (10 - 5 * channel)) & 0x1F; }

struct Cell {
  uint32_t cell;
  uint64_t count;
  uint64_t sums[3];
};

struct Box {
  size_t begin, end;  // range of cells in the list
  uint64_t count;
  int widest;
  uint32_t range;
};

void measure(const std::vector<Cell>& cells, Box* box) {
  uint32_t lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
  box->count = 0;
  for (size_t i = box->begin; i < box->end; i++) {
    box->count += cells[i].count;
    for (int c = 0; c < 3; c++) {
      uint32_t v = channel_of(cells[i].cell, c);
      lo[c] = std::min(lo[c], v), hi[c] = std::max(hi[c], v);
    }
  }
  // A box always holds at least one cell, so hi >= lo.
  box->widest = 0;
  box->range = hi[0] - lo[0];
  for (int c = 1; c < 3; c++) {
    if (hi[c] - lo[c] > box->range) box->range = hi[c] - lo[c], box->widest = c;
  }
}

}  // namespace

void image_median_cut(const PixelImage& image, uint32_t limit, std::vector<uint32_t>* palette,
                      std::vector<uint8_t>* indexes) {
  std::vector<Cell> histogram(kCells);
  for (uint32_t i = 0; i < kCells; i++) histogram[i] = Cell{i, 0, {0, 0, 0}};
  for (uint32_t p : image.pixels) {
    if ((p >> 24) < 128) continue;
    Cell& c = histogram[cell_of(p)];
    c.count++;
    c.sums[0] += (p >> 16) & 0xFF, c.sums[1] += (p >> 8) & 0xFF, c.sums[2] += p & 0xFF;
  }
  std::vector<Cell> cells;
  for (const Cell& c : histogram) {
    if (c.count) cells.push_back(c);
  }
  std::vector<Box> boxes;
  if (!cells.empty()) {
    boxes.push_back(Box{0, cells.size(), 0, 0, 0});
    measure(cells, &boxes[0]);
  }
  while (boxes.size() < limit) {
    Box* pick = nullptr;
    for (Box& b : boxes) {
      if (b.end - b.begin < 2) continue;
      if (!pick || b.count * b.range > pick->count * pick->range) pick = &b;
    }
    if (!pick || pick->range == 0) break;
    int c = pick->widest;
    std::sort(cells.begin() + long(pick->begin), cells.begin() + long(pick->end),
              [c](const Cell& a, const Cell& b) { return channel_of(a.cell, c) < channel_of(b.cell, c); });
    uint64_t half = pick->count / 2, seen = 0;
    size_t split = pick->begin + 1;
    for (size_t i = pick->begin; i < pick->end - 1; i++) {
      seen += cells[i].count;
      split = i + 1;
      if (seen >= half) break;
    }
    Box upper{split, pick->end, 0, 0, 0};
    pick->end = split;
    measure(cells, pick);
    measure(cells, &upper);
    boxes.push_back(upper);
  }
  std::vector<uint8_t> box_of(kCells, 0);
  palette->clear();
  for (size_t b = 0; b < boxes.size(); b++) {
    uint64_t sums[3] = {0, 0, 0}, count = 0;
    for (size_t i = boxes[b].begin; i < boxes[b].end; i++) {
      box_of[cells[i].cell] = uint8_t(b);
      count += cells[i].count;
      for (int c = 0; c < 3; c++) sums[c] += cells[i].sums[c];
    }
    uint32_t rgb[3];
    for (int c = 0; c < 3; c++) rgb[c] = uint32_t((sums[c] + count / 2) / count);
    palette->push_back(rgb[0] << 16 | rgb[1] << 8 | rgb[2]);
  }
  indexes->resize(image.pixels.size());
  for (size_t i = 0; i < image.pixels.size(); i++) {
    uint32_t p = image.pixels[i];
    (*indexes)[i] = (p >> 24) < 128 ? 0 : box_of[cell_of(p)];
  }
}

}  // namespace kiv
