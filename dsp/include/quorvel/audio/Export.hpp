#pragma once

// Marks the classes and functions of the DSP core that a shared library built
// from it exports. The core is compiled with hidden visibility; everything
// not marked stays internal.
#if defined(_WIN32)
#define QUORVEL_DSP_API
#else
#define QUORVEL_DSP_API __attribute__((visibility("default")))
#endif
