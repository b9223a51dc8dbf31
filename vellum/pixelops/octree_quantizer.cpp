#include "vellum/pixelops/octree_quantizer.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "vellum/pixelops/dithering.h"

namespace vellum {

namespace {

constexpr int kLeafLevel = 5;
// Index of each level's first node in one array of 1 + 8 + ... + 32768 nodes.
constexpr std::array<size_t, 7> kLevelStart = {0, 1, 9, 73, 585, 4681, 37449};
constexpr size_t kLeafCount = 32768;

struct OctreeNode {
  // Colour sums of the pixels merged into the node. They are 64-bit so that a
  // large image of one colour cannot overflow them.
  uint64_t red = 0;
  uint64_t green = 0;
  uint64_t blue = 0;
  uint32_t count = 0;     // pixels merged into the node; non-zero marks a palette colour
  uint32_t weight = 0;    // pixels in the whole subtree
  uint8_t childMask = 0;  // bit k: child k still stands as a separate subtree
};

// A node in the heap, keyed by its weight (which never changes once seeded).
struct HeapEntry {
  uint32_t weight = 0;
  uint8_t level = 0;
  uint16_t number = 0;
};

// The leaf of a colour: the top five bits of red, green and blue, interleaved
// with bit 7's group (red, green, blue) in bits 14 to 12.
struct LeafAddress {
  std::array<uint16_t, 256> red{};
  std::array<uint16_t, 256> green{};
  std::array<uint16_t, 256> blue{};

  LeafAddress() {
    for (unsigned value = 0; value < 256; ++value) {
      for (unsigned bit = 3; bit <= 7; ++bit) {
        if ((value >> bit & 1) == 0) continue;
        const unsigned group = 3 * (bit - 3);
        red[value] = static_cast<uint16_t>(red[value] | 4u << group);
        green[value] = static_cast<uint16_t>(green[value] | 2u << group);
        blue[value] = static_cast<uint16_t>(blue[value] | 1u << group);
      }
    }
  }
  size_t operator()(const uint8_t* pixel) const {
    return red[pixel[0]] + green[pixel[1]] + blue[pixel[2]];
  }
};

class Octree {
 public:
  Octree() : nodes_(kLevelStart.back()), heap_(kLeafCount + 1) {}

  // Histogram of the image in the leaves.
  void AddPixels(const uint8_t* rgb, uint64_t pixelCount) {
    const LeafAddress address;
    for (uint64_t i = 0; i < pixelCount; ++i) {
      const uint8_t* pixel = rgb + 3 * i;
      OctreeNode& leaf = Node(kLeafLevel, address(pixel));
      leaf.red += pixel[0];
      leaf.green += pixel[1];
      leaf.blue += pixel[2];
      ++leaf.count;
    }
  }

  // Puts every non-empty leaf into the heap, in ascending order, and gives each
  // ancestor its subtree weight and child bits.
  void SeedHeap() {
    for (size_t number = 0; number < kLeafCount; ++number) {
      OctreeNode& leaf = Node(kLeafLevel, number);
      if (leaf.count == 0) continue;
      leaf.weight = leaf.count;
      heap_[++heapSize_] = {leaf.count, kLeafLevel, static_cast<uint16_t>(number)};
      size_t descendant = number;
      for (int level = kLeafLevel - 1; level >= 0; --level) {
        OctreeNode& ancestor = Node(level, descendant >> 3);
        ancestor.weight += leaf.count;
        ancestor.childMask = static_cast<uint8_t>(ancestor.childMask | 1u << (descendant & 7));
        descendant >>= 3;
      }
    }
    for (size_t position = heapSize_; position >= 1; --position) SiftDown(position);
  }

  // Merges the lightest subtree into its parent until at most `colors` remain.
  void Reduce(size_t colors) {
    while (heapSize_ > colors) {
      const HeapEntry root = heap_[1];
      // An ancestor always outweighs a descendant still in the heap, so the
      // level-0 node is the root only once it is the last colour.
      if (root.level == 0) break;
      const OctreeNode& child = Node(root.level, root.number);
      const uint8_t parentLevel = static_cast<uint8_t>(root.level - 1);
      const uint16_t parentNumber = static_cast<uint16_t>(root.number >> 3);
      OctreeNode& parent = Node(parentLevel, parentNumber);
      if (parent.count != 0) {
        heap_[1] = heap_[heapSize_--];  // the parent is already a colour in the heap
      } else {
        heap_[1] = {parent.weight, parentLevel, parentNumber};
      }
      parent.count += child.count;
      parent.red += child.red;
      parent.green += child.green;
      parent.blue += child.blue;
      parent.childMask = static_cast<uint8_t>(parent.childMask & ~(1u << (root.number & 7)));
      SiftDown(1);
    }
  }

  // The colours in palette order: depth first from the top, children from 7
  // down to 0 before the node itself, each the rounded mean of its pixels.
  PalettePlanes Colors() {
    PalettePlanes planes;
    CollectColors(0, 0, planes);
    return planes;
  }

 private:
  OctreeNode& Node(int level, size_t number) { return nodes_[kLevelStart[level] + number]; }

  // Min-heap on weight: the right child is taken only when strictly lighter than
  // the left, and an entry no heavier than that child stays where it is.
  void SiftDown(size_t position) {
    const HeapEntry moving = heap_[position];
    while (position <= heapSize_ / 2) {
      size_t child = 2 * position;
      if (child + 1 <= heapSize_ && heap_[child].weight > heap_[child + 1].weight) ++child;
      if (moving.weight <= heap_[child].weight) break;
      heap_[position] = heap_[child];
      position = child;
    }
    heap_[position] = moving;
  }

  void CollectColors(int level, size_t number, PalettePlanes& planes) {
    const OctreeNode& node = Node(level, number);
    for (int child = 7; child >= 0; --child) {
      if (node.childMask >> child & 1) CollectColors(level + 1, number * 8 + child, planes);
    }
    if (node.count == 0) return;
    const uint32_t index = planes.count++;
    const uint64_t half = node.count / 2;
    planes.red[index] = static_cast<uint8_t>((node.red + half) / node.count);
    planes.green[index] = static_cast<uint8_t>((node.green + half) / node.count);
    planes.blue[index] = static_cast<uint8_t>((node.blue + half) / node.count);
  }

  std::vector<OctreeNode> nodes_;
  std::vector<HeapEntry> heap_;  // used from position 1
  size_t heapSize_ = 0;
};

}  // namespace

bool QuantizeOctree(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height,
                    uint8_t* indices, int32_t colorCount, RGBQUAD* palette) {
  if (rgb == nullptr || indices == nullptr || palette == nullptr) {
    return ctx.Fail(kErrInvalidArgument);
  }
  const size_t colors = static_cast<size_t>(std::clamp(colorCount, 1, 256));
  const auto tree = std::make_unique<Octree>();
  tree->AddPixels(rgb, uint64_t{width} * height);
  tree->SeedHeap();
  tree->Reduce(colors);
  const PalettePlanes planes = tree->Colors();
  DitherToPalette(rgb, width, height, planes, indices);
  for (size_t i = 0; i < colors; ++i) {
    const bool found = i < planes.count;
    palette[i].rgbRed = found ? planes.red[i] : 0;
    palette[i].rgbGreen = found ? planes.green[i] : 0;
    palette[i].rgbBlue = found ? planes.blue[i] : 0;
  }
  return true;
}

BOOL QuantizeOctree(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                    int32_t colorCount, RGBQUAD* palette) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    return QuantizeOctree(ctx, rgb, width, height, indices, colorCount, palette);
  });
}

}  // namespace vellum
