#pragma once

// The extension module is built with hidden visibility; everything that
// native callers may link against is marked with MOVIMO_API so it stays a
// visible symbol of the built module.
#if defined(_WIN32)
#define MOVIMO_API
#else
#define MOVIMO_API __attribute__((visibility("default")))
#endif
