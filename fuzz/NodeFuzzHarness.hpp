#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::fuzz {

// Fully qualified type names of every effect node type, in the factory's
// registration order.
std::vector<std::string> effectNodeTypeNames();

// Decodes `data` into a sequence of operations on nodes of type `typeName`
// (created through the effects factory) and runs it: typed setters and host
// properties with any value, bus formats of any shape, enabling and
// disabling, and blocks of arbitrary sample data. Aborts with a message on
// stderr when a block that had finite input, in-range parameters and a sample
// rate in 8000..192000 Hz produces a non-finite output sample; sanitizer
// reports abort on their own. Returns 0.
int runNodeFuzzInput(const std::string& typeName, const std::uint8_t* data, std::size_t size);

}  // namespace quorvel::fuzz
