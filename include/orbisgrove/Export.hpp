// Marks the declarations that the shared library exports; everything else stays
// hidden so that the library's symbol table is exactly the public API.
//
// The kit builds and exports with GCC and Clang (and compilers that present
// themselves as either) on ELF and Mach-O platforms, through symbol
// visibility. Windows DLLs export through __declspec instead, which the kit
// does not provide; rather than produce a library that exports nothing, such
// builds stop here.
#pragma once

#if defined(_WIN32) || defined(__CYGWIN__)
#error "OrbisgroveFeedbackKit does not support Windows: its exports rely on ELF or Mach-O symbol visibility"
#elif defined(__GNUC__) || defined(__clang__)
#define ORBISGROVE_EXPORT __attribute__((visibility("default")))
#else
#error "OrbisgroveFeedbackKit needs GCC or Clang (or a compatible compiler) to mark its exported symbols"
#endif
