// A growable byte buffer for one decoded block, kept from block to block so
// that a ring of them stops allocating once warm.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "platform/memory.h"

namespace wexlo {

// Frees what was allocated with `alignment`.
struct AlignedFree {
  std::size_t alignment = alignof(std::max_align_t);
  void operator()(std::uint8_t* bytes) const {
    ::operator delete[](bytes, std::align_val_t{alignment});
  }
};

class BlockBuffer {
 public:
  std::span<std::uint8_t> bytes() { return {data_.get(), size_}; }
  std::span<const std::uint8_t> bytes() const { return {data_.get(), size_}; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::uint8_t* data() { return data_.get(); }

  // Sets the size to `size`, keeping the bytes below it; false when the
  // memory cannot be had. New bytes are left as they are, not zeroed.
  bool resize(std::size_t size) {
    if (size > capacity_) {
      // A block's worth is aligned for large pages: a ring's buffers are
      // written through once each, and small pages made that cost a page
      // fault every 4 KiB.
      const std::size_t alignment = size >= kLargePageSize ? kLargePageSize : kSmallAlignment;
      Memory grown(static_cast<std::uint8_t*>(
                       ::operator new[](size, std::align_val_t{alignment}, std::nothrow)),
                   Free{alignment});
      if (!grown) return false;
      if (size_ != 0) std::memcpy(grown.get(), data_.get(), size_);
      data_ = std::move(grown);
      capacity_ = size;
      if (alignment == kLargePageSize) adviseLargePages({data_.get(), capacity_});
    }
    size_ = size;
    return true;
  }

 private:
  static constexpr std::size_t kSmallAlignment = alignof(std::max_align_t);
  using Free = AlignedFree;
  using Memory = std::unique_ptr<std::uint8_t[], Free>;

  Memory data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace wexlo
