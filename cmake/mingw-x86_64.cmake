# Cross build for 64-bit Windows. Not a product: it lets the tests run under
# 64-bit Wine on hosts that cannot run 32-bit code at all.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
