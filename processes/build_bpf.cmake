# Builds the kernel tracer of short-lived programs into a skeleton header:
# vmlinux.h from the build machine's kernel BTF, the eBPF object with clang,
# then bpftool's skeleton. Run at build time with cmake -P. Whatever fails,
# it writes socket_owner_trace_build.h, so the program still builds, with
# the tracer compiled out and the reason kept for its status text.
#
# Inputs: BPFTOOL, CLANG, ARCH (x86, arm64), SOURCE_DIR (processes/), OUT_DIR.

set(header "${OUT_DIR}/socket_owner_trace_build.h")

function(give_up reason)
  message(WARNING "Kernel tracer compiled out: ${reason}")
  file(WRITE "${header}" "#pragma once\n#define TRAFALYN_HAVE_BPF 0\n#define TRAFALYN_BPF_WHY_NOT \"${reason}\"\n")
  file(REMOVE "${OUT_DIR}/socket_owner_trace.skel.h")
endfunction()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    string(REGEX REPLACE "[\"\\\\\n]" " " err "${err}")
    string(SUBSTRING "${err}" 0 200 err)
    give_up("${what} failed: ${err}")
    set(failed TRUE PARENT_SCOPE)
  endif()
endfunction()

file(MAKE_DIRECTORY "${OUT_DIR}")
if(NOT EXISTS /sys/kernel/btf/vmlinux)
  give_up("no /sys/kernel/btf/vmlinux on the build machine")
  return()
endif()

set(failed FALSE)
execute_process(COMMAND ${BPFTOOL} btf dump file /sys/kernel/btf/vmlinux format c
  OUTPUT_FILE "${OUT_DIR}/vmlinux.h" RESULT_VARIABLE rc ERROR_QUIET)
if(NOT rc EQUAL 0)
  give_up("bpftool could not dump the kernel BTF")
  return()
endif()
run("clang -target bpf" ${CLANG} -g -O2 -target bpf -D__TARGET_ARCH_${ARCH}
  -I "${OUT_DIR}" -I "${SOURCE_DIR}" -c "${SOURCE_DIR}/socket_owner_trace.bpf.c"
  -o "${OUT_DIR}/socket_owner_trace.tmp.o")
if(failed)
  return()
endif()
# Links the object alone, which also drops its DWARF, keeping BTF.
run("bpftool gen object" ${BPFTOOL} gen object "${OUT_DIR}/socket_owner_trace.bpf.o"
  "${OUT_DIR}/socket_owner_trace.tmp.o")
if(failed)
  return()
endif()
execute_process(COMMAND ${BPFTOOL} gen skeleton "${OUT_DIR}/socket_owner_trace.bpf.o" name socket_owner_trace
  OUTPUT_FILE "${OUT_DIR}/socket_owner_trace.skel.h" RESULT_VARIABLE rc ERROR_QUIET)
if(NOT rc EQUAL 0)
  give_up("bpftool could not write the skeleton")
  return()
endif()
file(WRITE "${header}" "#pragma once\n#define TRAFALYN_HAVE_BPF 1\n")
