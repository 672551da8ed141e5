// Marks the declarations that the shared library exports; everything else stays
// hidden so that the library's symbol table is exactly the public API.
#pragma once

#if defined(_WIN32)
#define ORBISGROVE_EXPORT
#else
#define ORBISGROVE_EXPORT __attribute__((visibility("default")))
#endif
