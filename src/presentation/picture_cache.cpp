#include "presentation/picture_cache.h"

namespace okt {

size_t PictureCache::Hash::operator()(const PictureKey& k) const {
  uint64_t h = 1469598103934665603ull;  // FNV-1a over the fields
  auto mix = [&h](uint64_t v) {
    for (int i = 0; i < 8; ++i, v >>= 8) h = (h ^ (v & 0xFF)) * 1099511628211ull;
  };
  mix(k.kind), mix(k.id), mix(k.bodyVersion);
  mix(uint64_t{k.placement.x} << 48 | uint64_t{k.placement.y} << 32 | uint64_t{k.placement.width} << 16 |
      k.placement.height);
  mix(k.placement.objectId);
  mix(static_cast<uint32_t>(k.view.left)), mix(static_cast<uint32_t>(k.view.top));
  mix(static_cast<uint32_t>(k.view.right)), mix(static_cast<uint32_t>(k.view.bottom));
  mix(static_cast<uint32_t>(k.surfaceWidth)), mix(static_cast<uint32_t>(k.surfaceHeight));
  return static_cast<size_t>(h);
}

const KeptPicture* PictureCache::find(const PictureKey& key) {
  auto it = index_.find(key);
  if (it == index_.end()) return nullptr;
  order_.splice(order_.begin(), order_, it->second);
  return &it->second->second;
}

void PictureCache::keep(const PictureKey& key, KeptPicture picture) {
  auto old = index_.find(key);
  if (old != index_.end()) {
    bytes_ -= footprint(old->second->second);
    order_.erase(old->second);
    index_.erase(old);
  }
  const size_t needed = footprint(picture);
  if (needed > capacity_) return;
  while (bytes_ + needed > capacity_ && !order_.empty()) {
    bytes_ -= footprint(order_.back().second);
    index_.erase(order_.back().first);
    order_.pop_back();
  }
  order_.emplace_front(key, std::move(picture));
  index_[key] = order_.begin();
  bytes_ += needed;
}

void PictureCache::clear() {
  order_.clear();
  index_.clear();
  bytes_ = 0;
}

}  // namespace okt
