#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/memory_budget.h"

namespace okt {

// A table indexed directly by id whose entries are stored in pages made on
// first write. A peripheral may claim 16 million entries; only the pages it
// actually fills cost memory. Unwritten entries read as a fresh T.
template <typename T>
class PagedTable {
 public:
  static constexpr uint32_t kPageEntries = 256;
  static constexpr size_t kPageBytes = sizeof(T) * kPageEntries;

  PagedTable() = default;
  PagedTable(PagedTable&&) noexcept = default;
  PagedTable& operator=(PagedTable&&) noexcept = default;

  // Makes a table of `size` fresh entries (no pages yet).
  void allocate(uint32_t size) {
    pages_.clear();
    pages_.resize((size_t{size} + kPageEntries - 1) / kPageEntries);
    size_ = size;
    exists_ = true;
  }
  // Drops every page; returns the page bytes it held so the owner can give
  // them back to its budget.
  size_t release() {
    size_t bytes = pageCount() * kPageBytes;
    pages_.clear();
    pages_.shrink_to_fit();
    size_ = 0;
    exists_ = false;
    return bytes;
  }

  bool exists() const { return exists_; }
  uint32_t size() const { return size_; }
  bool contains(uint32_t id) const { return id < size_; }

  // Read access: null for an id outside the table.
  const T* find(uint32_t id) const {
    if (id >= size_) return nullptr;
    const auto& page = pages_[id / kPageEntries];
    if (!page) return &fresh();
    return &page->entries[id % kPageEntries];
  }
  // Write access: null for an id outside the table or when the page cannot be
  // paid for from the budget.
  T* edit(uint32_t id, MemoryBudget& budget) {
    if (id >= size_) return nullptr;
    auto& page = pages_[id / kPageEntries];
    if (!page) {
      if (!budget.take(kPageBytes)) return nullptr;
      page = std::make_unique<Page>();
    }
    return &page->entries[id % kPageEntries];
  }
  // Write access to an entry whose page exists already (null otherwise).
  T* existing(uint32_t id) {
    if (id >= size_) return nullptr;
    auto& page = pages_[id / kPageEntries];
    return page ? &page->entries[id % kPageEntries] : nullptr;
  }

  // Visits the entries that were written at some point, in id order.
  template <typename F>
  void forEachStored(F&& visit) {
    for (size_t p = 0; p < pages_.size(); ++p) {
      if (!pages_[p]) continue;
      uint32_t base = static_cast<uint32_t>(p * kPageEntries);
      for (uint32_t i = 0; i < kPageEntries && base + i < size_; ++i) visit(base + i, pages_[p]->entries[i]);
    }
  }
  template <typename F>
  void forEachStored(F&& visit) const {
    for (size_t p = 0; p < pages_.size(); ++p) {
      if (!pages_[p]) continue;
      uint32_t base = static_cast<uint32_t>(p * kPageEntries);
      for (uint32_t i = 0; i < kPageEntries && base + i < size_; ++i) visit(base + i, pages_[p]->entries[i]);
    }
  }

  size_t pageCount() const {
    size_t n = 0;
    for (const auto& p : pages_) n += p ? 1 : 0;
    return n;
  }

 private:
  struct Page {
    T entries[kPageEntries];
  };
  static const T& fresh() {
    static const T entry{};
    return entry;
  }

  std::vector<std::unique_ptr<Page>> pages_;
  uint32_t size_ = 0;
  bool exists_ = false;
};

}  // namespace okt
