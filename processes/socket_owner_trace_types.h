#pragma once

// The records the kernel-side tracer leaves for user space: which process
// last connected or sent on a socket. Shared by the eBPF program (C, built
// with clang -target bpf) and the program that reads its map, so only fixed
// width types and no padding the two compilers could lay out differently.

#define TRAFALYN_OWNER_COMM_BYTES 16
#define TRAFALYN_OWNER_EXE_BYTES 64
#define TRAFALYN_OWNER_MAP_ENTRIES 16384

// One socket's endpoints as the tracer saw them. Ports in host order; an
// IPv4 address (also one an IPv6 socket reaches as ::ffff:a.b.c.d) fills the
// first 4 bytes of its field, family 4; IPv6 fills all 16, family 6. A
// socket that sent without a local address of its own (unconnected UDP)
// leaves localAddr zero.
struct trafalyn_owner_key {
  __u32 netns;  // inode number of the socket's network namespace
  __u8 protocol;
  __u8 family;
  __u16 localPort;
  __u16 remotePort;
  __u16 unused;
  __u8 localAddr[16];
  __u8 remoteAddr[16];
};

// The process that was running when the socket connected or sent.
struct trafalyn_owner_value {
  __u32 pid;  // thread group id, in the initial PID namespace
  __u32 unused;
  char comm[TRAFALYN_OWNER_COMM_BYTES];
  char exe[TRAFALYN_OWNER_EXE_BYTES];  // base name of the executable; empty if unknown
};
