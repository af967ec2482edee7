// Writes an RGB picture as a PNG file, uncompressed (stored deflate blocks): enough for a
// screenshot, with nothing but the standard library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv5 {

// rgb holds width * height pixels of three bytes each, top row first.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace kv5
