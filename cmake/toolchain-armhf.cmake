# Cross build for the camera's 32-bit ARM (armhf) with Debian's cross
# toolchain and the multiarch :armhf development packages
# (tools/install-deps.sh --armhf installs them). ctest runs the test programs
# through qemu-arm; tests/support starts the armhf programs a test launches
# through the same emulator.
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(PKG_CONFIG_EXECUTABLE arm-linux-gnueabihf-pkg-config CACHE FILEPATH "")
# g++ notes the ABI change of GCC 7 for every std::pair of doubles passed by
# value; nothing here is linked against code built before it.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm-static CACHE FILEPATH "")
# Libraries and headers from the armhf multiarch paths only; programs
# (protoc-c, protoc) from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
