#include "cardaccess/rtsrc/asn1ber/BerMessageBuffer.h"

#include <cstring>
#include <new>

BerCodecContext::BerCodecContext() : BerContext() {}

BerCodecContext* BerCodecContext::create() { return new (std::nothrow) BerCodecContext(); }

void BerCodecContext::addRef() { ++referenceCount_; }

void BerCodecContext::release() {
  if (--referenceCount_ > 0) return;
  // This object is not the runtime's malloc'ed context, whatever the flags say.
  flags &= static_cast<uint16_t>(~BER_FLAG_CONTEXT_ALLOCATED);
  berFreeContext(this);
  delete this;
}

BerMessageBuffer::BerMessageBuffer(int type, uint8_t* buffer, uint32_t size)
    : context_(BerCodecContext::create()), buffer_(buffer), size_(size), type_(type) {
  if (context_ != nullptr) context_->addRef();
}

BerMessageBuffer::~BerMessageBuffer() {
  if (context_ != nullptr) context_->release();
}

uint8_t* BerMessageBuffer::getMsgCopy() { return nullptr; }

const uint8_t* BerMessageBuffer::getMsgPtr() { return buffer_; }

void BerMessageBuffer::init() {}

BerCodecContext* BerMessageBuffer::getContext() {
  if (context_ != nullptr) context_->addRef();
  return context_;
}

BerEncodeBuffer::BerEncodeBuffer() : BerMessageBuffer(kEncode, nullptr, 0) {
  if (context_ != nullptr) berInitEncode(context_, nullptr, 0);
}

BerEncodeBuffer::BerEncodeBuffer(uint8_t* buffer, uint32_t size) : BerMessageBuffer(kEncode, buffer, size) {
  if (context_ != nullptr) berInitEncode(context_, buffer, size);
}

const uint8_t* BerEncodeBuffer::getMsgPtr() {
  if (context_ == nullptr || context_->buffer == nullptr) return nullptr;
  return context_->buffer + context_->position;
}

uint8_t* BerEncodeBuffer::getMsgCopy() {
  const uint8_t* message = getMsgPtr();
  if (message == nullptr) return nullptr;
  uint32_t n = context_->size - context_->position;
  auto* copy = new (std::nothrow) uint8_t[n];
  if (copy != nullptr) std::memcpy(copy, message, n);
  return copy;
}

bool BerEncodeBuffer::isA(int type) { return type == kEncode; }

void BerEncodeBuffer::init() {
  if (context_ != nullptr && context_->size > 0) context_->position = context_->size - 1;
}

BerDecodeBuffer::BerDecodeBuffer(const uint8_t* buffer, uint32_t size)
    : BerMessageBuffer(kDecode, const_cast<uint8_t*>(buffer), size) {
  if (context_ == nullptr) return;
  BerTag tag = 0;
  int length = 0;
  berInitDecode(context_, buffer, size, &tag, &length);
}

uint8_t* BerDecodeBuffer::getMsgCopy() { return nullptr; }

const uint8_t* BerDecodeBuffer::getMsgPtr() { return buffer_; }

void BerDecodeBuffer::init() {}

bool BerDecodeBuffer::isA(int type) { return type == kDecode; }

const uint8_t* BerDecodeBuffer::findElement(BerTag tag, int& length, bool fromStart) {
  if (context_ == nullptr) return nullptr;
  int flags = BER_MATCH_SEARCH;
  if (fromStart) {
    context_->position = 0;
    context_->depth = 0;
    context_->flags &= static_cast<uint16_t>(~BER_FLAG_MESSAGE_ENDED);
  } else {
    flags |= BER_MATCH_STEP_OVER;
  }
  if (berMatchTag(context_, tag, &length, flags) < 0) return nullptr;
  return context_->buffer + context_->position;
}

BerAsn1Value::BerAsn1Value(BerMessageBuffer& buffer) : context_(buffer.getContext()), buffer_(buffer) {}

BerAsn1Value::~BerAsn1Value() {
  if (context_ != nullptr) context_->release();
}

int BerAsn1Value::encode() { return 0; }

int BerAsn1Value::decode() { return 0; }

int BerObjectIdValue::encode() {
  if (context_ == nullptr) return BER_NO_MEMORY;
  buffer_.init();
  return berEncodeObjectId(context_, value.count, value.arcs, 1);
}

int BerObjectIdValue::decode() {
  if (context_ == nullptr) return BER_NO_MEMORY;
  return berDecodeObjectId(context_, &value, 1, 0);
}
