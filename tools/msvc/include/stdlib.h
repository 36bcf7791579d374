// <stdlib.h> as the Universal CRT has it: mingw-w64's, plus the two locale-taking conversions
// that libc++'s <locale> calls and mingw-w64 does not declare.
#pragma once
#include_next <stdlib.h>

#ifdef __cplusplus
extern "C" {
#endif
float __cdecl _strtof_l(const char* text, char** end, _locale_t locale);
long double __cdecl _strtold_l(const char* text, char** end, _locale_t locale);
#ifdef __cplusplus
}
#endif
