// An owned, zero-filled heap block.
#pragma once

#include <cstddef>

class VMemoryBlock {
 public:
  VMemoryBlock() = default;
  virtual ~VMemoryBlock();
  VMemoryBlock(const VMemoryBlock&) = delete;
  VMemoryBlock& operator=(const VMemoryBlock&) = delete;

  // Replaces the block by a new zero-filled one of n bytes and returns it. n = 0
  // releases the block and returns NULL; when no memory is left the old block
  // stays and the result is NULL.
  void* allocate(std::size_t n);
  void release();

  void* getPointer() const { return m_pointer; }
  std::size_t getSize() const { return m_size; }

  // Hands the block to a new owner (who frees it with free()); this one is empty afterwards.
  void* detach();

 private:
  void* m_pointer = nullptr;
  std::size_t m_size = 0;
};
