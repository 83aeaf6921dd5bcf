#include "foundation/util/AbstractException.h"

#include <new>

namespace {

std::unique_ptr<AbstractException> cloneOf(const AbstractException* cause) {
  return std::unique_ptr<AbstractException>(cause != nullptr ? cause->clone() : nullptr);
}

template <class E>
AbstractException* copyOnHeap(const E& exception) {
  try {
    return new E(exception);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

AbstractException::AbstractException(const char* message)
    : message(message != nullptr ? message : "") {}

AbstractException::AbstractException(const char* message, const AbstractException* cause)
    : message(message != nullptr ? message : ""), cause(cloneOf(cause)) {}

AbstractException::AbstractException(const AbstractException& other)
    : message(other.message), cause(cloneOf(other.cause.get())) {}

AbstractException::~AbstractException() = default;

const char* VOQ_ParserException::name() const { return "VOQ_ParserException"; }
AbstractException* VOQ_ParserException::clone() const { return copyOnHeap(*this); }

const char* VOQ_ListException::name() const { return "VOQ_ListException"; }
AbstractException* VOQ_ListException::clone() const { return copyOnHeap(*this); }

const char* VOQ_MapException::name() const { return "VOQ_MapException"; }
AbstractException* VOQ_MapException::clone() const { return copyOnHeap(*this); }

const char* VOQ_StreamException::name() const { return "VOQ_StreamException"; }
AbstractException* VOQ_StreamException::clone() const { return copyOnHeap(*this); }
