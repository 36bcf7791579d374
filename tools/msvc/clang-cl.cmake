# Toolchain of the Visual Studio check: Debian's clang-cl parses the product as MSVC 19.38
# would, over libc++ and mingw-w64's Windows headers, with llvm-rc and llvm-lib beside it. It has
# no MSVC libraries, so configure-time checks build static libraries and nothing is linked.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_AR llvm-lib-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_MT llvm-mt-14)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(KESTRO_MSVC_SHIMS ${CMAKE_CURRENT_LIST_DIR})
set(KESTRO_MSVC_LIBCXX /usr/lib/llvm-14/include/c++/v1)
set(KESTRO_MSVC_SDK /usr/share/mingw-w64/include)
# /X drops the host's include folders; the three folders come in as system headers, shims first
# so they wrap the headers they fix. The defines select libc++'s UCRT mode without vcruntime.
string(JOIN " " CMAKE_CXX_FLAGS_INIT
  --target=x86_64-pc-windows-msvc -fms-compatibility-version=19.38 /X
  -imsvc ${KESTRO_MSVC_LIBCXX} -imsvc ${KESTRO_MSVC_SHIMS}/include -imsvc ${KESTRO_MSVC_SDK}
  /D_LIBCPP_NO_VCRUNTIME /D_UCRT /D__MSVCRT_VERSION__=0xE00
  /FI${KESTRO_MSVC_SHIMS}/deprecations.h)
set(CMAKE_RC_FLAGS_INIT "/I ${KESTRO_MSVC_SDK}")
