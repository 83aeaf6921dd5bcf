// Owners of GDI objects: each handle is deleted exactly once, by the object that owns it.
#pragma once

#include <windows.h>

class VDC;

class VGDIObject {
 public:
  VGDIObject() = default;
  VGDIObject(const VGDIObject&) = delete;
  VGDIObject& operator=(const VGDIObject&) = delete;
  virtual ~VGDIObject() { VGDIObject::release(); }

  // Deletes an owned handle; the handle becomes 0.
  virtual void release();
  // Releases, then keeps a handle that GetObjectType accepts; whether one is held.
  virtual bool set(HGDIOBJ handle);

  HGDIOBJ getHandle() const { return m_handle; }
  bool owns() const { return m_owns; }

 protected:
  HGDIOBJ m_handle = nullptr;
  bool m_owns = true;
};

class VBitmap : public VGDIObject {
 public:
  VBitmap() = default;
  // LoadBitmapA of the resource (module NULL: the application's resource module).
  VBitmap(LPCSTR name, HINSTANCE module);
  ~VBitmap() override = default;

  bool set(HGDIOBJ handle) override;
  // The description of the bitmap into `out` (NULL: its own); false when GetObjectA fails.
  bool getInfo(BITMAP* out);
  const BITMAP& info() const { return m_info; }
  // Copies the bitmap from (sourceX, sourceY) to (x, y) of the DC.
  bool draw(VDC& dc, int x, int y, int sourceX, int sourceY);

 private:
  BITMAP m_info{};
};

// A borrowed object: never owned, never deleted.
class VTempGDIObject : public VGDIObject {
 public:
  VTempGDIObject() { m_owns = false; }
  ~VTempGDIObject() override { m_handle = nullptr; }
  bool set(HGDIOBJ handle) override {
    m_handle = handle;
    return handle != nullptr;
  }
};

class VGDIStockObject : public VTempGDIObject {
 public:
  bool select(int number) {
    m_number = number;
    return set(GetStockObject(number));
  }
  int getNumber() const { return m_number; }

 private:
  int m_number = -1;
};

class VStockFont : public VGDIStockObject {};

// Selects an object into a DC for its lifetime and puts the previous one back.
class VGDIObjectSelector {
 public:
  VGDIObjectSelector(VDC& dc, HGDIOBJ object);
  VGDIObjectSelector(VDC& dc, const VGDIObject& object) : VGDIObjectSelector(dc, object.getHandle()) {}
  VGDIObjectSelector(const VGDIObjectSelector&) = delete;
  VGDIObjectSelector& operator=(const VGDIObjectSelector&) = delete;
  virtual ~VGDIObjectSelector();

  bool selected() const { return m_previous != nullptr; }

 private:
  VDC& m_dc;
  HGDIOBJ m_previous = nullptr;
};
