#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

#include "presentation/raster.h"
#include "protocol/bodies.h"
#include "protocol/client_state.h"

namespace okt {

// Decoded, scaled pictures and rendered icons kept from one redraw to the
// next, so that a redraw blends them without decoding again. A picture is
// kept for the body it came from, the place it was drawn in, the view and
// the surface's size: anything else, and it is decoded anew, so what is
// drawn is always what decoding would draw. The least recently drawn go
// first once the cache holds kPictureCacheBytes.
constexpr size_t kPictureCacheBytes = size_t{64} << 20;

struct PictureKey {
  enum Kind : uint8_t { Picture, Icon } kind = Picture;
  uint32_t id = 0;           // the object's, or the icon's
  uint64_t bodyVersion = 0;  // see ObjectEntry::bodyVersion
  Placement placement;       // for an icon: its width as placement.width
  ViewRect view;
  int surfaceWidth = 0;
  int surfaceHeight = 0;

  bool operator==(const PictureKey&) const = default;
};

struct KeptPicture {
  ScaledPicture scaled;
  uint64_t decodedPixels = 0;  // what decoding it cost, charged again when it is drawn
};

class PictureCache {
 public:
  explicit PictureCache(size_t capacity = kPictureCacheBytes) : capacity_(capacity) {}

  // The picture kept for the key, now the most recently used; null if none.
  const KeptPicture* find(const PictureKey& key);
  // Keeps a picture, making room for it; one larger than the whole cache is not kept.
  void keep(const PictureKey& key, KeptPicture picture);
  void clear();

  size_t bytes() const { return bytes_; }
  size_t size() const { return index_.size(); }

 private:
  struct Hash {
    size_t operator()(const PictureKey& k) const;
  };
  using Entry = std::pair<PictureKey, KeptPicture>;
  static size_t footprint(const KeptPicture& p) { return sizeof(Entry) + p.scaled.pixels.pixels.size(); }

  size_t capacity_;
  size_t bytes_ = 0;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<PictureKey, std::list<Entry>::iterator, Hash> index_;
};

}  // namespace okt
