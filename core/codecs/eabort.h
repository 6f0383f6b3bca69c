// The silent cancel signal: raised by a conversion routine that finds a cancel request,
// carried through the job driver and discarded, without a message, where the windows catch
// exceptions.
#pragma once

#include <exception>

class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return ""; }
};
