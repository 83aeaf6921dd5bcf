// COM's base and OLE automation: GUID texts, system strings, VARIANTs, SAFEARRAYs.
#include <gtest/gtest.h>

#include <objbase.h>

#include <cstring>
#include <string>

namespace {

// An object that counts its references.
struct Counted : IUnknown {
  ULONG refs = 1;
  STDMETHODIMP QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

TEST(Com, GuidTextsBothWays) {
  const GUID clsid = {0x02181BA8, 0x5BF3, 0x4A52, {0x80, 0xAB, 0xD1, 0x54, 0xBD, 0xDC, 0x7E, 0xC7}};
  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(clsid, text, 38), 0);
  ASSERT_EQ(StringFromGUID2(clsid, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{02181BA8-5BF3-4A52-80AB-D154BDDC7EC7}");
  GUID back{};
  EXPECT_EQ(CLSIDFromString(u"{02181ba8-5bf3-4a52-80ab-d154bddc7ec7}", &back), S_OK);
  EXPECT_TRUE(IsEqualGUID(back, clsid));
  for (const char16_t* bad : {u"", u"02181BA8-5BF3-4A52-80AB-D154BDDC7EC7", u"{02181BA8-5BF3-4A52-80AB-D154BDDC7EC}",
                              u"{02181BA8-5BF3-4A52-80AB-D154BDDC7EC7}x", u"{0218XBA8-5BF3-4A52-80AB-D154BDDC7EC7}",
                              u"{02181BA8+5BF3-4A52-80AB-D154BDDC7EC7}"}) {
    EXPECT_EQ(CLSIDFromString(bad, &back), CO_E_CLASSSTRING) << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
  }
  EXPECT_EQ(CLSIDFromString(nullptr, &back), E_INVALIDARG);
}

TEST(Com, SystemStrings) {
  BSTR s = SysAllocString(u"Gr\u00FC\u00DFe");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 5u);
  EXPECT_EQ(SysStringByteLen(s), 10u);
  EXPECT_EQ(std::u16string(s), u"Gr\u00FC\u00DFe");
  SysFreeString(s);
  const OLECHAR withNul[] = {u'a', 0, u'b'};
  BSTR n = SysAllocStringLen(withNul, 3);  // a NUL inside is kept
  EXPECT_EQ(SysStringLen(n), 3u);
  EXPECT_EQ(n[2], u'b');
  EXPECT_EQ(n[3], 0);
  SysFreeString(n);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  BSTR empty = SysAllocStringLen(nullptr, 0);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFF), nullptr);
}

TEST(Com, VariantsOwnWhatTheyHold) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"x");
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_NE(copy.bstrVal, v.bstrVal);
  EXPECT_EQ(std::u16string(copy.bstrVal), u"x");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(&copy), S_OK);

  Counted object;
  v.vt = VT_UNKNOWN;
  v.punkVal = &object;
  object.AddRef();
  ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_EQ(object.refs, 3u);
  VariantClear(&copy);
  VariantClear(&v);
  EXPECT_EQ(object.refs, 1u);
}

TEST(Com, ByteVectorAsPostData) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 5);
  ASSERT_NE(psa, nullptr);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  std::memcpy(data, "a=b&c", 5);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
  VARTYPE vt = 0;
  EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
  EXPECT_EQ(vt, VT_UI1);
  LONG lower = -1, upper = -1;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 4);
  EXPECT_EQ(SafeArrayGetDim(psa), 1u);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = psa;
  EXPECT_EQ(v.vt, 0x2011);
  EXPECT_EQ(VariantClear(&v), S_OK);  // destroys the array

  SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 0, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SafeArrayGetUBound(empty, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);

  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_EQ(SafeArrayAccessData(strings, &data), S_OK);
  static_cast<BSTR*>(data)[1] = SysAllocString(u"owned");
  SafeArrayUnaccessData(strings);
  EXPECT_EQ(SafeArrayDestroy(strings), S_OK);  // frees its strings too (the sanitizer pass checks)
  EXPECT_EQ(SafeArrayCreateVector(0xFFF, 0, 1), nullptr);
}

}  // namespace
