// A growable byte buffer for one decoded block, kept from block to block so
// that a ring of them stops allocating once warm.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

namespace wexlo {

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
      std::unique_ptr<std::uint8_t[]> grown(new (std::nothrow) std::uint8_t[size]);
      if (!grown) return false;
      if (size_ != 0) std::memcpy(grown.get(), data_.get(), size_);
      data_ = std::move(grown);
      capacity_ = size;
    }
    size_ = size;
    return true;
  }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace wexlo
