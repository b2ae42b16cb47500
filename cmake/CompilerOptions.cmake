# Every compiler and linker option of the project, in one place.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

# A release names no folder of the machine that built it: the same sources give the same bytes
# wherever they are checked out and built. The build folder comes last, as it may lie inside the
# sources and the last matching map wins.
set(release_code "$<AND:$<CONFIG:Release>,$<COMPILE_LANGUAGE:C,CXX>>")
add_compile_options($<${release_code}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>
                    $<${release_code}:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>)

option(ORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

# Product code: no exceptions. The Windows executable must stay a few tens of KiB and depend on nothing
# but the system's DLLs, so nothing there may pull in the C++ library's heavier parts, RTTI included
# (natively it stays, for the sanitizer's checks of virtual calls).
add_library(orvane_product_flags INTERFACE)
target_compile_options(orvane_product_flags INTERFACE -Wall -Wextra -fno-exceptions
                       $<$<BOOL:${WIN32}>:-fno-rtti -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections>)

if(WIN32)
  enable_language(RC)
  # Runtime support linked statically: the executable needs only the system's own DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0501 WINVER=0x0501)
  # Stripped release build.
  add_link_options($<$<CONFIG:Release>:-s>)
  # The product's header: runs from the first Windows of its kind on (XP, 5.1; for 64 bits XP x64,
  # 5.2), marked for data-execution prevention, for terminal services, and movable to a random base;
  # the relocation records that the move needs are kept in the stripped file. No build time in the
  # header (its time stamp is 0), so that a rebuild gives the same bytes; the linker's checksum is
  # then taken over that. Not SOURCE_DATE_EPOCH, which this linker would read: an executable linked
  # before it was set is not linked again when it is.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(oldest_windows 2)
  else()
    set(oldest_windows 1)
  endif()
  target_link_options(orvane_product_flags INTERFACE
    -Wl,--major-os-version,5 -Wl,--minor-os-version,${oldest_windows}
    -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,${oldest_windows}
    -Wl,--nxcompat -Wl,--dynamicbase -Wl,--tsaware -Wl,--no-insert-timestamp -Wl,--gc-sections)
endif()

if(ORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# The native program loads the C library alone, as Orvane.exe loads the system's DLLs alone: the
# little of the C++ runtime it uses is linked into it, and a library it uses nothing of is not named.
# Loading the C++ library was most of the start-up of a swap of a small file. Not with the
# sanitizers, whose runtimes load it anyway.
add_library(orvane_program_flags INTERFACE)
if(NOT WIN32 AND NOT ORVANE_SANITIZE)
  target_link_options(orvane_program_flags INTERFACE -static-libstdc++ -static-libgcc -Wl,--as-needed)
endif()

