// The generator's error: a message for the package author that names the file, folder or
// setting at fault. Thrown inside the generator and turned into the command's error at its edge.
#pragma once

#include <stdexcept>
#include <string>

namespace gp::builder {

class BuildError : public std::runtime_error {
 public:
  explicit BuildError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace gp::builder
