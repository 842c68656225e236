#pragma once

// Marks the classes and functions the effects library exports. The library is
// built with hidden visibility and an explicit export list; everything not
// marked stays internal.
#if defined(_WIN32)
#define QUORVEL_AUDIOEFFECTS_API
#else
#define QUORVEL_AUDIOEFFECTS_API __attribute__((visibility("default")))
#endif
