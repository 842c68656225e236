#pragma once

// Marks the classes and functions of the node layer that the effects library
// exports. The layer is compiled with hidden visibility; everything not
// marked stays internal.
#if defined(_WIN32)
#define QUORVEL_NODES_API
#else
#define QUORVEL_NODES_API __attribute__((visibility("default")))
#endif
