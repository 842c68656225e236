#pragma once

#include <string>
#include <vector>

#include "Chain.hpp"

namespace quorvelfx {}  // namespace quorvelfx
