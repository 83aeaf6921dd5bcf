// Message buffers over a reference-counted codec context. These classes have
// no destructor slot and never ask for run-time type information: they are
// deleted only as their own final type, and the base destructors are not public.
#pragma once

#include "cardaccess/rtsrc/asn1ber/asn1ber.h"

// The codec context with a reference count (0 when made).
class BerCodecContext : public BerContext {
 public:
  // Null when memory runs out.
  static BerCodecContext* create();
  void addRef();
  // Frees what the context holds and the object once the count reaches 0.
  void release();
  int32_t referenceCount() const { return referenceCount_; }

  BerCodecContext(const BerCodecContext&) = delete;
  BerCodecContext& operator=(const BerCodecContext&) = delete;

 private:
  BerCodecContext();
  ~BerCodecContext() = default;
  int32_t referenceCount_ = 0;
};

class BerMessageBuffer {
 public:
  constexpr static int kEncode = 1;
  constexpr static int kDecode = 2;

  virtual uint8_t* getMsgCopy();
  virtual const uint8_t* getMsgPtr();
  virtual void init();
  virtual bool isA(int type) = 0;

  // Another counted reference; the caller releases it.
  BerCodecContext* getContext();
  // The context for the codec operations, without a reference of its own.
  BerContext* context() const { return context_; }

  BerMessageBuffer(const BerMessageBuffer&) = delete;
  BerMessageBuffer& operator=(const BerMessageBuffer&) = delete;

 protected:
  BerMessageBuffer(int type, uint8_t* buffer, uint32_t size);
  ~BerMessageBuffer();

  BerCodecContext* context_;
  uint8_t* buffer_;
  uint32_t size_;
  int type_;
};

class BerEncodeBuffer final : public BerMessageBuffer {
 public:
  // A dynamic buffer of 16384 bytes that grows up to 65536.
  BerEncodeBuffer();
  // The caller's buffer, which never grows; it holds messages of size - 1 bytes.
  BerEncodeBuffer(uint8_t* buffer, uint32_t size);

  // A new[] copy of the message followed by the unused last byte of the buffer.
  uint8_t* getMsgCopy() override;
  const uint8_t* getMsgPtr() override;
  void init() override;
  bool isA(int type) override;
};

class BerDecodeBuffer final : public BerMessageBuffer {
 public:
  BerDecodeBuffer(const uint8_t* buffer, uint32_t size);

  uint8_t* getMsgCopy() override;
  const uint8_t* getMsgPtr() override;
  void init() override;
  bool isA(int type) override;

  // The identifier octet of the next element with this tag, or null; the
  // position is left before it.
  const uint8_t* findElement(BerTag tag, int& length, bool fromStart);
};

// Base of the ASN.1 value classes: a counted reference to the context of a
// message buffer, and that buffer.
class BerAsn1Value {
 public:
  virtual int encode();
  virtual int decode();

  BerAsn1Value(const BerAsn1Value&) = delete;
  BerAsn1Value& operator=(const BerAsn1Value&) = delete;

 protected:
  explicit BerAsn1Value(BerMessageBuffer& buffer);
  ~BerAsn1Value();

  BerCodecContext* context_;
  BerMessageBuffer& buffer_;
};

class BerObjectIdValue final : public BerAsn1Value {
 public:
  explicit BerObjectIdValue(BerMessageBuffer& buffer) : BerAsn1Value(buffer) {}

  // Starts a new message in the buffer and encodes the value with its identifier.
  int encode() override;
  int decode() override;

  BerObjectId value{};
};
