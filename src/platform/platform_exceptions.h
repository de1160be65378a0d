#pragma once
// The exception classes of the class library that the engine raises and
// reports. Every exception carries a message and knows its own class name,
// because the exception box shows "Exception (" + class name + ") ...".
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  virtual std::string ClassName() const { return "Exception"; }
  std::string Message() const { return what(); }
};

// Declares an exception class Name derived from Base that reports "Name".
#define VEMRA_DECLARE_EXCEPTION(Name, Base)                             \
  class Name : public Base {                                            \
   public:                                                              \
    using Base::Base;                                                   \
    std::string ClassName() const override { return #Name; }            \
  }

VEMRA_DECLARE_EXCEPTION(EConvertError, Exception);
VEMRA_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
VEMRA_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
VEMRA_DECLARE_EXCEPTION(EOutOfResources, Exception);
VEMRA_DECLARE_EXCEPTION(EStreamError, Exception);
VEMRA_DECLARE_EXCEPTION(EReadError, EStreamError);
VEMRA_DECLARE_EXCEPTION(EWriteError, EStreamError);
VEMRA_DECLARE_EXCEPTION(EFOpenError, EStreamError);
VEMRA_DECLARE_EXCEPTION(EFCreateError, EStreamError);
VEMRA_DECLARE_EXCEPTION(EOutOfMemory, Exception);
VEMRA_DECLARE_EXCEPTION(EListError, Exception);
VEMRA_DECLARE_EXCEPTION(EClipboardException, Exception);
VEMRA_DECLARE_EXCEPTION(EInvalidCast, Exception);
VEMRA_DECLARE_EXCEPTION(EInOutError, Exception);
