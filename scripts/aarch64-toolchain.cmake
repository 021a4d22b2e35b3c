# Cross-compiling for aarch64 Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu), as scripts/wheel.py and scripts/bootstrap-arm64 do.
# The Python headers and ABI tag come from the arm64 CPython of
# scripts/bootstrap-arm64 (Python_INCLUDE_DIR, Python_SOABI).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
