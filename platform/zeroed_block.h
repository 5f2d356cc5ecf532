// Owning handle for one zero-filled block of memory from the platform layer.
//
// Every table of the models and every stream buffer is one such block. A
// fresh block reads as all-zero bytes, which is the start state of every
// table entry (entries store their fields as offsets from their start
// values), so no fill loop runs at creation.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/platform.h"

namespace mx {

class ZeroedBlock {
 public:
  ZeroedBlock() = default;
  ~ZeroedBlock() { release(); }
  ZeroedBlock(const ZeroedBlock&) = delete;
  ZeroedBlock& operator=(const ZeroedBlock&) = delete;
  ZeroedBlock(ZeroedBlock&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  ZeroedBlock& operator=(ZeroedBlock&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }

  // Replaces the block with a new zeroed one of `bytes` bytes; false (and
  // empty) when the memory is not available.
  bool allocate(std::uint64_t bytes) {
    release();
    data_ = static_cast<unsigned char*>(platform::alloc_zeroed(bytes));
    if (data_ == nullptr) return false;
    size_ = bytes;
    return true;
  }

  void release() {
    if (data_ != nullptr) platform::free_memory(data_, size_);
    data_ = nullptr;
    size_ = 0;
  }

  // See platform::advise_huge_pages.
  bool advise_huge_pages(bool collapse) const {
    return platform::advise_huge_pages(data_, size_, collapse);
  }

  unsigned char* data() const { return data_; }
  std::uint64_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  unsigned char* data_ = nullptr;
  std::uint64_t size_ = 0;
};

}  // namespace mx
