// The conversion error of numbers and flags read from config.cfg. Its message names the
// offending value with its bytes as they were read.
#pragma once

#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};
