# One interface target carries the language standard, warnings and sanitizer
# switches; every target of the project links it.
add_library(vantoro_options INTERFACE)
target_compile_features(vantoro_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(vantoro_options INTERFACE -Wall -Wextra -Wpedantic)
if(VANTORO_SANITIZE)
  target_compile_options(vantoro_options INTERFACE -fsanitize=${VANTORO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(vantoro_options INTERFACE -fsanitize=${VANTORO_SANITIZE})
endif()
find_package(Threads REQUIRED)
target_link_libraries(vantoro_options INTERFACE Threads::Threads)
# Hardening as Debian builds its packages: checked buffer functions and
# read-only relocations. Not with sanitizers, which do their own checking.
if(NOT VANTORO_SANITIZE)
  target_compile_definitions(vantoro_options INTERFACE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  target_link_options(vantoro_options INTERFACE LINKER:-z,relro,-z,now)
endif()
