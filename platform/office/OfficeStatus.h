#pragma once
// The outcome of an office-file operation: a code the caller can branch on and an English detail
// naming what failed (a part name, a limit, a libzip or parser message).
#include <string>
#include <utility>

namespace office {

enum class Error {
  None,
  NotFound,      // the template file does not exist or cannot be read
  TooLarge,      // a size or count limit of the template was exceeded
  NotAPackage,   // not a zip archive
  BrokenPart,    // a part is missing, unreadable or not well-formed
  Unsupported,   // a valid package of a kind this writer does not take (macros, strict XML, ...)
  Exists,        // the output file exists already (nothing was written)
  WriteFailed,   // the output could not be written (nothing is left under its name)
};

struct Status {
  Error error = Error::None;
  std::string detail;

  bool ok() const { return error == Error::None; }
  static Status Ok() { return {}; }
  static Status Fail(Error e, std::string what) { return {e, std::move(what)}; }
};

}  // namespace office
