#include "quorvel/Extension.hpp"

namespace quorvel {

// Defined here so that the class's vtable and type information live in the
// host library alone.
Extension::~Extension() = default;

}  // namespace quorvel
