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
