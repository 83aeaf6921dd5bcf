#include "foundation/base/VMemoryBlock.h"

#include <cstdlib>

VMemoryBlock::~VMemoryBlock() { release(); }

void* VMemoryBlock::allocate(std::size_t n) {
  if (n == 0) {
    release();
    return nullptr;
  }
  void* block = std::calloc(n, 1);
  if (block == nullptr) return nullptr;
  release();
  m_pointer = block;
  m_size = n;
  return m_pointer;
}

void VMemoryBlock::release() {
  std::free(m_pointer);
  m_pointer = nullptr;
  m_size = 0;
}

void* VMemoryBlock::detach() {
  void* block = m_pointer;
  m_pointer = nullptr;
  m_size = 0;
  return block;
}
