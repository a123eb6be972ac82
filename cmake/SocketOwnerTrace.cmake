# The kernel tracer that names short-lived programs (processes/): an eBPF
# object compiled with clang against the build machine's kernel BTF at build
# time (CO-RE relocates it on the running kernel), embedded as a bpftool
# skeleton. Where the tools, libbpf or the BTF are missing, or the object
# fails to build, it is compiled out and the program names processes from the
# socket table and /proc alone.
option(TRAFALYN_WITH_BPF "Build the eBPF tracer of short-lived programs where possible" ON)
set(TRAFALYN_BPF_DIR ${CMAKE_BINARY_DIR}/generated/bpf)
pkg_check_modules(LIBBPF IMPORTED_TARGET libbpf)
find_program(TRAFALYN_BPFTOOL bpftool PATHS /usr/sbin /sbin)
find_program(TRAFALYN_BPF_CLANG clang)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  set(TRAFALYN_BPF_ARCH x86)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  set(TRAFALYN_BPF_ARCH arm64)
endif()
set(TRAFALYN_BPF_WHY_NOT "")
if(NOT TRAFALYN_WITH_BPF)
  set(TRAFALYN_BPF_WHY_NOT "switched off (TRAFALYN_WITH_BPF)")
elseif(NOT LIBBPF_FOUND)
  set(TRAFALYN_BPF_WHY_NOT "libbpf not found")
elseif(NOT TRAFALYN_BPFTOOL OR NOT TRAFALYN_BPF_CLANG)
  set(TRAFALYN_BPF_WHY_NOT "bpftool or clang not found")
elseif(NOT TRAFALYN_BPF_ARCH)
  set(TRAFALYN_BPF_WHY_NOT "no eBPF support for ${CMAKE_SYSTEM_PROCESSOR}")
endif()
if(TRAFALYN_BPF_WHY_NOT)
  message(STATUS "Kernel tracer compiled out: ${TRAFALYN_BPF_WHY_NOT}")
  set(TRAFALYN_BPF_DIR ${CMAKE_BINARY_DIR}/generated/bpf-off)
  file(CONFIGURE OUTPUT ${TRAFALYN_BPF_DIR}/socket_owner_trace_build.h
    CONTENT "#pragma once\n#define TRAFALYN_HAVE_BPF 0\n#define TRAFALYN_BPF_WHY_NOT \"@TRAFALYN_BPF_WHY_NOT@\"\n" @ONLY)
else()
  add_custom_command(
    OUTPUT ${TRAFALYN_BPF_DIR}/socket_owner_trace_build.h
    COMMAND ${CMAKE_COMMAND} -DBPFTOOL=${TRAFALYN_BPFTOOL} -DCLANG=${TRAFALYN_BPF_CLANG}
            -DARCH=${TRAFALYN_BPF_ARCH} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}/processes
            -DOUT_DIR=${TRAFALYN_BPF_DIR} -P ${CMAKE_SOURCE_DIR}/processes/build_bpf.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/processes/socket_owner_trace.bpf.c
            ${CMAKE_SOURCE_DIR}/processes/socket_owner_trace_types.h
            ${CMAKE_SOURCE_DIR}/processes/build_bpf.cmake
    BYPRODUCTS ${TRAFALYN_BPF_DIR}/socket_owner_trace.skel.h
    COMMENT "Building the eBPF tracer of short-lived programs")
  target_sources(trafalyn_processes PRIVATE ${TRAFALYN_BPF_DIR}/socket_owner_trace_build.h)
  target_link_libraries(trafalyn_processes PUBLIC PkgConfig::LIBBPF)
endif()
target_include_directories(trafalyn_processes PRIVATE ${TRAFALYN_BPF_DIR})
