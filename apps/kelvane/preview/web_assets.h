// The browser's files of the preview, compiled into the program from web/.
#pragma once

#include <cstddef>
#include <span>

namespace kelvane::cli {

struct WebAsset {
  const char* path;         // relative to web/, e.g. "app.js"
  const char* contentType;
  const unsigned char* data;
  std::size_t size;
};

std::span<const WebAsset> webAssets();

}  // namespace kelvane::cli
