// Exceptions of the utility library: a message and an optional cause, which
// each exception owns as its own copy. Thrown by value, caught by reference.
#pragma once

#include <memory>
#include <string>

class AbstractException {
 public:
  explicit AbstractException(const char* message);
  // Keeps a clone of cause; the caller keeps its own object.
  AbstractException(const char* message, const AbstractException* cause);
  AbstractException(const AbstractException& other);
  AbstractException& operator=(const AbstractException&) = delete;
  virtual ~AbstractException();

  // The class's name as a fixed text.
  virtual const char* name() const = 0;
  // A heap copy, or NULL when memory runs out.
  virtual AbstractException* clone() const = 0;

  const char* getMessage() const { return message.c_str(); }
  // NULL when there is none.
  const AbstractException* getCause() const { return cause.get(); }

 private:
  std::string message;
  std::unique_ptr<AbstractException> cause;
};

class VOQ_ParserException : public AbstractException {
 public:
  explicit VOQ_ParserException(const char* message) : AbstractException(message) {}
  VOQ_ParserException(const char* message, const AbstractException* cause)
      : AbstractException(message, cause) {}
  const char* name() const override;
  AbstractException* clone() const override;
};

class VOQ_ListException : public AbstractException {
 public:
  explicit VOQ_ListException(const char* message) : AbstractException(message) {}
  const char* name() const override;
  AbstractException* clone() const override;
};

class VOQ_MapException : public AbstractException {
 public:
  explicit VOQ_MapException(const char* message) : AbstractException(message) {}
  const char* name() const override;
  AbstractException* clone() const override;
};

class VOQ_StreamException : public AbstractException {
 public:
  explicit VOQ_StreamException(const char* message) : AbstractException(message) {}
  VOQ_StreamException(const char* message, const AbstractException* cause)
      : AbstractException(message, cause) {}
  const char* name() const override;
  AbstractException* clone() const override;
};
