#pragma once

#include <exception>

namespace lq {

// Cancellation of an effect run. Nothing else is used to signal it.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

}  // namespace lq
