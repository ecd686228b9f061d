# Windows through mingw-w64, for the processor that the toolchain file including
# this one names in VORLANE_MINGW_TRIPLE. The -posix compilers carry std::thread
# and std::mutex (GoogleTest needs them); everything is linked statically but
# libgcrypt and libgpg-error (DLLs shipped beside the programs, see
# VorlaneGcrypt.cmake), so the executables need no other DLL than the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VORLANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORLANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLANE_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VORLANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
