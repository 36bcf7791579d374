// mingw-w64's <_mingw.h>, read as if by GCC: for any other compiler it defines __attribute__
// away, which breaks clang's own headers, and puts __declspec where MSVC syntax forbids it.
// GCC is seen by this header alone; everything after it sees clang-cl again.
#pragma once
#ifndef __GNUC__
#define __GNUC__ 4
#define __GNUC_MINOR__ 9
#define __GNUC_PATCHLEVEL__ 0
#define KESTRO_MINGW_SAW_GCC
#endif
#include_next <_mingw.h>
#ifdef KESTRO_MINGW_SAW_GCC
#undef __GNUC__
#undef __GNUC_MINOR__
#undef __GNUC_PATCHLEVEL__
#undef KESTRO_MINGW_SAW_GCC
#endif
