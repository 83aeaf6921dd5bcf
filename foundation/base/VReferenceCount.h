// A plain counter; VString uses it to count failed allocations.
#pragma once

class VReferenceCount {
 public:
  VReferenceCount() = default;
  virtual ~VReferenceCount() = default;

  // Adds one and returns the new count.
  int addReference() { return ++m_count; }
  int getCount() const { return m_count; }
  void setCount(int count) { m_count = count; }

 private:
  int m_count = 0;
};
