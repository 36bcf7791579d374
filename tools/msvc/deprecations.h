// Forced into every translation unit of the MSVC check: the C library functions that Visual
// Studio reports as C4996 (unsafe, or POSIX names without the underscore) are re-declared
// deprecated, so any use fails the /WX build here as it would there.
#pragma once
#include <corecrt.h>

#define KESTRO_MSVC_UNSAFE [[deprecated("C4996: use the _s variant or a safer alternative")]]
#define KESTRO_MSVC_POSIX [[deprecated("C4996: the POSIX name is deprecated; use the _ name")]]

// <time.h> defines these three inline, and a definition takes no attribute after the fact.
#ifdef __cplusplus
extern "C" {
#endif
struct tm;
KESTRO_MSVC_UNSAFE static struct tm* __cdecl localtime(const time_t* time);
KESTRO_MSVC_UNSAFE static struct tm* __cdecl gmtime(const time_t* time);
KESTRO_MSVC_UNSAFE static char* __cdecl ctime(const time_t* time);
#ifdef __cplusplus
}
#endif

#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif
KESTRO_MSVC_UNSAFE char* __cdecl strcpy(char* dest, const char* source);
KESTRO_MSVC_UNSAFE char* __cdecl strcat(char* dest, const char* source);
KESTRO_MSVC_UNSAFE char* __cdecl strncpy(char* dest, const char* source, size_t count);
KESTRO_MSVC_UNSAFE int __cdecl sprintf(char* dest, const char* format, ...);
KESTRO_MSVC_UNSAFE int __cdecl vsprintf(char* dest, const char* format, va_list args);
KESTRO_MSVC_UNSAFE int __cdecl sscanf(const char* source, const char* format, ...);
KESTRO_MSVC_UNSAFE char* __cdecl strtok(char* text, const char* delimiters);
KESTRO_MSVC_UNSAFE FILE* __cdecl fopen(const char* name, const char* mode);
KESTRO_MSVC_UNSAFE FILE* __cdecl freopen(const char* name, const char* mode, FILE* file);
KESTRO_MSVC_UNSAFE char* __cdecl getenv(const char* name);
KESTRO_MSVC_UNSAFE char* __cdecl strerror(int error);
KESTRO_MSVC_UNSAFE size_t __cdecl mbstowcs(wchar_t* dest, const char* source, size_t count);
KESTRO_MSVC_UNSAFE size_t __cdecl wcstombs(char* dest, const wchar_t* source, size_t count);
KESTRO_MSVC_UNSAFE wchar_t* __cdecl wcscpy(wchar_t* dest, const wchar_t* source);
KESTRO_MSVC_UNSAFE wchar_t* __cdecl wcscat(wchar_t* dest, const wchar_t* source);
KESTRO_MSVC_UNSAFE FILE* __cdecl _wfopen(const wchar_t* name, const wchar_t* mode);
KESTRO_MSVC_POSIX int __cdecl fileno(FILE* file);
KESTRO_MSVC_POSIX int __cdecl dup(int handle);
KESTRO_MSVC_POSIX int __cdecl dup2(int source, int target);
KESTRO_MSVC_POSIX int __cdecl isatty(int handle);
KESTRO_MSVC_POSIX char* __cdecl strdup(const char* text);
KESTRO_MSVC_POSIX int __cdecl unlink(const char* name);
KESTRO_MSVC_POSIX int __cdecl open(const char* name, int flags, ...);
KESTRO_MSVC_POSIX int __cdecl close(int handle);
KESTRO_MSVC_POSIX int __cdecl read(int handle, void* buffer, unsigned int count);
KESTRO_MSVC_POSIX int __cdecl write(int handle, const void* buffer, unsigned int count);
#ifdef __cplusplus
}
#endif

#undef KESTRO_MSVC_UNSAFE
#undef KESTRO_MSVC_POSIX
