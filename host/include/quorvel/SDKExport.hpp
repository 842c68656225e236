#pragma once

// Marks the classes and functions the host framework library exports. The
// library is built with hidden visibility, so everything else stays internal.
#if defined(_WIN32)
#define QUORVEL_SDK_API
#else
#define QUORVEL_SDK_API __attribute__((visibility("default")))
#endif
