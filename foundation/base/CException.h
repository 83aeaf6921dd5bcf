// The exception family of the main program: thrown by value, caught by class.
#pragma once

#include <cstddef>
#include <string>

namespace VOQ {

// Holds three texts: the kind of failure, what went wrong and where. No virtual
// operations: a subclass only replaces the type text, so a handler for the base
// still sees which kind it caught.
class CException {
 public:
  // Both texts are kept only when both are given.
  CException(const char* where, const char* message);
  CException(const CException& other) = default;
  CException& operator=(const CException& other) = default;
  ~CException() = default;

  const std::string& getType() const { return m_type; }
  const std::string& getMessage() const { return m_message; }
  const std::string& getWhere() const { return m_where; }
  // A task-modal warning box "DEBUG" naming where, the type and the message; the
  // box's answer. For debugging only: nothing calls it on the way of a failure.
  int showDebugMessage() const;

 protected:
  void setType(const char* type) { m_type = type; }

 private:
  std::string m_type;
  std::string m_message;
  std::string m_where;
};

class CMemoryException : public CException {
 public:
  CMemoryException(const char* where, const char* message);
};

class CNoSuchObjectException : public CException {
 public:
  CNoSuchObjectException(const char* where, const char* message);
};

class CBadArgumentException : public CException {
 public:
  CBadArgumentException(const char* where, const char* message);
};

class CAssertException : public CException {
 public:
  CAssertException(const char* where, const char* message);
};

// Size of the buffer in which a thrower formats a message that names an object.
constexpr std::size_t kMessageBufferSize = 512;

// Formats a message with one named object ("Module %s existiert nicht.\n") into a
// bounded text: a long name truncates the message instead of overflowing. A NULL
// name is shown as "(null)".
std::string formatMessage(const char* format, const char* name);

}  // namespace VOQ
