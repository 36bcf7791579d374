# KESTRO_SANITIZE: "" (off), "address" (ASan + UBSan) or "thread" (TSan); native builds only.
set(KESTRO_SANITIZE "" CACHE STRING "Sanitizers for native builds: address, thread or empty")
if(KESTRO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(KESTRO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KESTRO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KESTRO_SANITIZE must be address, thread or empty")
endif()
