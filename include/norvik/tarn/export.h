// What libnorvik_tarn.so exports. The library is built with hidden
// visibility; NORVIK_TARN_API marks the classes and functions of this API,
// NORVIK_TARN_LOCAL keeps a private part of an exported class inside it.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define NORVIK_TARN_API __attribute__((visibility("default")))
#define NORVIK_TARN_LOCAL __attribute__((visibility("hidden")))
#else
#define NORVIK_TARN_API
#define NORVIK_TARN_LOCAL
#endif
