#include "host/pixel_map.h"

#include <cstddef>

TpixelMap::TpixelMap(std::uint16_t width, std::uint16_t height)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height * 4, 0) {}

namespace {

constexpr int kNeighbourDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr int kNeighbourDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};

}  // namespace

void TfillBackground::fillBackground(TpixelMap& map) {
    const int width = map.getWidth();
    const int height = map.getHeight();
    std::uint8_t* pixels = map.getPixel();
    if (pixels == nullptr) return;
    const std::size_t count = static_cast<std::size_t>(width) * height;

    // 0 empty, 1 covered, 2 empty and already on the front.
    enum : std::uint8_t { kEmpty = 0, kCovered = 1, kQueued = 2 };
    std::vector<std::uint8_t> state(count);
    for (std::size_t p = 0; p < count; ++p) state[p] = pixels[4 * p + 3] != 0 ? kCovered : kEmpty;

    // Queues the empty neighbours of pixel p that are not queued yet.
    std::vector<std::size_t> front;
    auto queueNeighbours = [&](std::size_t p) {
        int x = static_cast<int>(p % width), y = static_cast<int>(p / width);
        for (int k = 0; k < 8; ++k) {
            int nx = x + kNeighbourDx[k], ny = y + kNeighbourDy[k];
            if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
            std::size_t n = static_cast<std::size_t>(ny) * width + nx;
            if (state[n] == kEmpty) {
                state[n] = kQueued;
                front.push_back(n);
            }
        }
    };
    for (std::size_t p = 0; p < count; ++p)
        if (state[p] == kCovered) queueNeighbours(p);

    // One pass per ring: average from the pixels covered before the pass,
    // then mark the ring covered and queue the next one.
    std::vector<std::uint8_t> filled;
    std::vector<std::size_t> ring;
    while (!front.empty()) {
        ring.swap(front);
        front.clear();
        filled.assign(ring.size() * 4, 0);
        for (std::size_t r = 0; r < ring.size(); ++r) {
            std::size_t p = ring[r];
            int x = static_cast<int>(p % width), y = static_cast<int>(p / width);
            unsigned sum[4] = {0, 0, 0, 0};
            unsigned covered = 0;
            for (int k = 0; k < 8; ++k) {
                int nx = x + kNeighbourDx[k], ny = y + kNeighbourDy[k];
                if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
                std::size_t n = static_cast<std::size_t>(ny) * width + nx;
                if (state[n] != kCovered) continue;
                for (int c = 0; c < 4; ++c) sum[c] += pixels[4 * n + c];
                ++covered;
            }
            // Every queued pixel touches a covered one.
            for (int c = 0; c < 4; ++c)
                filled[4 * r + c] = static_cast<std::uint8_t>((sum[c] + covered / 2) / covered);
        }
        for (std::size_t r = 0; r < ring.size(); ++r) {
            std::size_t p = ring[r];
            for (int c = 0; c < 4; ++c) pixels[4 * p + c] = filled[4 * r + c];
            state[p] = kCovered;
        }
        for (std::size_t p : ring) queueNeighbours(p);
    }
}
