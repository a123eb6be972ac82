// SPDX-License-Identifier: GPL-2.0
// Remembers which process connected or sent on each TCP/UDP socket, for
// processes that end before a look at /proc could find them.
//
// Every hook here runs in the owning process's own context (inside its
// connect, sendto, sendmsg or sendmmsg call), so the current task is the
// socket's user. State changes that arriving segments cause run in softirq
// context on behalf of whatever task was interrupted and are never used.
//
// Only raw tracepoints: some kernels this runs on offer neither kprobes nor
// fentry, and raw tracepoints attach by name through bpf() alone, without
// tracefs, which is readable by root only. The arguments of a system call
// are still in the saved user registers at its exit, so one hook at exit
// serves, without a table of calls in flight.
#include "vmlinux.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>

#include "socket_owner_trace_types.h"

#define AF_INET 2
#define AF_INET6 10
#define PROTO_TCP 6
#define PROTO_UDP 17
#define STATE_SYN_SENT 2
#define STATE_CLOSE 7
#define ERR_INPROGRESS 115
#define MODE_TYPE 00170000
#define MODE_SOCKET 0140000

char LICENSE[] SEC("license") = "GPL";

// The system call numbers of this machine, set by the loader.
const volatile long nrConnect = -1;
const volatile long nrSendto = -1;
const volatile long nrSendmsg = -1;
const volatile long nrSendmmsg = -1;

struct {
  __uint(type, BPF_MAP_TYPE_LRU_HASH);
  __uint(max_entries, TRAFALYN_OWNER_MAP_ENTRIES);
  __type(key, struct trafalyn_owner_key);
  __type(value, struct trafalyn_owner_value);
} owners SEC(".maps");

// Per-CPU scratch space: the key and value are too big for the stack
// together with the socket address.
struct scratch {
  struct trafalyn_owner_key key;
  struct trafalyn_owner_value value;
  struct sockaddr_in6 destination;
};

struct {
  __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
  __uint(max_entries, 1);
  __type(key, __u32);
  __type(value, struct scratch);
} scratch_space SEC(".maps");

static __always_inline struct scratch* Scratch(void) {
  __u32 zero = 0;
  struct scratch* s = bpf_map_lookup_elem(&scratch_space, &zero);
  if (s) __builtin_memset(&s->key, 0, sizeof(s->key));
  return s;
}

static __always_inline int IsV4Mapped(const __u8* a) {
  for (int i = 0; i < 10; i++)
    if (a[i] != 0) return 0;
  return a[10] == 0xff && a[11] == 0xff;
}

// Rewrites a key whose addresses are both IPv4-mapped (or zero) as IPv4,
// so that user space can look it up with the IPv4 addresses it captured.
static __always_inline void FoldMapped(struct trafalyn_owner_key* key) {
  if (key->family != 6) return;
  int localZero = 1;
  for (int i = 0; i < 16; i++)
    if (key->localAddr[i] != 0) localZero = 0;
  if (!IsV4Mapped(key->remoteAddr) || !(localZero || IsV4Mapped(key->localAddr))) return;
  key->family = 4;
  for (int i = 0; i < 4; i++) {
    key->localAddr[i] = localZero ? 0 : key->localAddr[12 + i];
    key->remoteAddr[i] = key->remoteAddr[12 + i];
  }
  for (int i = 4; i < 16; i++) {
    key->localAddr[i] = 0;
    key->remoteAddr[i] = 0;
  }
}

static __always_inline void Record(struct scratch* s) {
  if (s->key.localPort == 0 || s->key.remotePort == 0) return;
  FoldMapped(&s->key);
  const __u32 pid = bpf_get_current_pid_tgid() >> 32;
  struct trafalyn_owner_value* known = bpf_map_lookup_elem(&owners, &s->key);
  if (known && known->pid == pid) return;  // sends repeat; one write is enough

  __builtin_memset(&s->value, 0, sizeof(s->value));
  s->value.pid = pid;
  // The process's name, as /proc/<pid>/comm gives it: the thread that
  // sends may have a name of its own.
  struct task_struct* task = (struct task_struct*)bpf_get_current_task();
  BPF_CORE_READ_STR_INTO(&s->value.comm, task, group_leader, comm);
  const unsigned char* exe = BPF_CORE_READ(task, mm, exe_file, f_path.dentry, d_name.name);
  if (exe) bpf_probe_read_kernel_str(s->value.exe, sizeof(s->value.exe), exe);
  bpf_map_update_elem(&owners, &s->key, &s->value, BPF_ANY);
}

static __always_inline __u32 NetnsOf(const struct sock* sk) {
  return BPF_CORE_READ(sk, __sk_common.skc_net.net, ns.inum);
}

// The socket behind descriptor `fd` of the current task, or null.
static __always_inline struct sock* SocketOfFd(__u64 fd) {
  struct task_struct* task = (struct task_struct*)bpf_get_current_task();
  struct fdtable* table = BPF_CORE_READ(task, files, fdt);
  if (!table || fd >= BPF_CORE_READ(table, max_fds)) return 0;
  struct file** files = BPF_CORE_READ(table, fd);
  struct file* file = 0;
  if (bpf_probe_read_kernel(&file, sizeof(file), &files[fd]) != 0 || !file) return 0;
  if ((BPF_CORE_READ(file, f_inode, i_mode) & MODE_TYPE) != MODE_SOCKET) return 0;
  struct socket* sock = BPF_CORE_READ(file, private_data);
  return sock ? BPF_CORE_READ(sock, sk) : 0;
}

// Fills the key from the socket; an unconnected socket takes its remote end
// from the sockaddr the caller passed.
static __always_inline void RecordSocket(struct scratch* s, struct sock* sk, __u64 destination) {
  const __u16 family = BPF_CORE_READ(sk, __sk_common.skc_family);
  const __u16 protocol = BPF_CORE_READ_BITFIELD_PROBED(sk, sk_protocol);
  if ((family != AF_INET && family != AF_INET6) || (protocol != PROTO_TCP && protocol != PROTO_UDP))
    return;
  s->key.netns = NetnsOf(sk);
  s->key.protocol = protocol;
  s->key.localPort = BPF_CORE_READ(sk, __sk_common.skc_num);
  s->key.remotePort = __builtin_bswap16(BPF_CORE_READ(sk, __sk_common.skc_dport));
  if (family == AF_INET) {
    s->key.family = 4;
    __be32 local = BPF_CORE_READ(sk, __sk_common.skc_rcv_saddr);
    __be32 remote = BPF_CORE_READ(sk, __sk_common.skc_daddr);
    __builtin_memcpy(s->key.localAddr, &local, 4);
    __builtin_memcpy(s->key.remoteAddr, &remote, 4);
  } else {
    s->key.family = 6;
    BPF_CORE_READ_INTO(&s->key.localAddr, sk, __sk_common.skc_v6_rcv_saddr);
    BPF_CORE_READ_INTO(&s->key.remoteAddr, sk, __sk_common.skc_v6_daddr);
  }
  if (s->key.remotePort == 0 && destination != 0) {
    if (bpf_probe_read_user(&s->destination, sizeof(s->destination), (const void*)destination) != 0)
      return;
    const __u16 destFamily = s->destination.sin6_family;
    s->key.remotePort = __builtin_bswap16(s->destination.sin6_port);
    if (destFamily == AF_INET) {
      const struct sockaddr_in* in = (const struct sockaddr_in*)&s->destination;
      __builtin_memset(s->key.remoteAddr, 0, 16);
      __builtin_memcpy(s->key.remoteAddr, &in->sin_addr, 4);
      if (family == AF_INET6) {
        // An IPv6 socket cannot send to a plain IPv4 sockaddr.
        return;
      }
    } else if (destFamily == AF_INET6) {
      __builtin_memcpy(s->key.remoteAddr, &s->destination.sin6_addr, 16);
    } else {
      return;
    }
  }
  Record(s);
}

#if defined(__TARGET_ARCH_x86)
static __always_inline long SyscallNumber(const struct pt_regs* regs) {
  return BPF_CORE_READ(regs, orig_ax);
}
#elif defined(__TARGET_ARCH_arm64)
struct pt_regs___nr {
  int syscallno;
} __attribute__((preserve_access_index));
static __always_inline long SyscallNumber(const struct pt_regs* regs) {
  return BPF_CORE_READ((const struct pt_regs___nr*)regs, syscallno);
}
#else
#error "no system call number reader for this architecture"
#endif

// The destination the caller named in a message header, or 0.
static __always_inline __u64 MessageName(__u64 header) {
  void* name = 0;
  if (header == 0) return 0;
  if (bpf_probe_read_user(&name, sizeof(name), &((const struct user_msghdr*)header)->msg_name) != 0)
    return 0;
  return (__u64)name;
}

// args: the caller's saved registers, the return value.
SEC("raw_tracepoint/sys_exit")
int OnSyscallExit(struct bpf_raw_tracepoint_args* ctx) {
  const struct pt_regs* regs = (const struct pt_regs*)ctx->args[0];
  const long ret = (long)ctx->args[1];
  const long nr = SyscallNumber(regs);
  __u64 destination = 0;
  if (nr == nrConnect) {
    if (ret < 0 && ret != -ERR_INPROGRESS) return 0;
  } else if (nr == nrSendto) {
    if (ret < 0) return 0;
    destination = PT_REGS_PARM5_CORE_SYSCALL(regs);
  } else if (nr == nrSendmsg || nr == nrSendmmsg) {
    // For sendmmsg the first message's destination stands for the call
    // (the C library's resolver sends its queries this way).
    if (ret < 0) return 0;
    destination = MessageName(PT_REGS_PARM2_CORE_SYSCALL(regs));
  } else {
    return 0;
  }
  struct sock* sk = SocketOfFd(PT_REGS_PARM1_CORE_SYSCALL(regs));
  if (!sk) return 0;
  struct scratch* s = Scratch();
  if (s) RecordSocket(s, sk, destination);
  return 0;
}

// CLOSE -> SYN_SENT happens inside connect(), in the caller's context. The
// local port may not be chosen yet at this point (it is chosen just after);
// then the exit of connect records the socket instead.
// args: the socket, the old state, the new state.
SEC("raw_tracepoint/inet_sock_set_state")
int OnSockState(struct bpf_raw_tracepoint_args* ctx) {
  if ((int)ctx->args[1] != STATE_CLOSE || (int)ctx->args[2] != STATE_SYN_SENT) return 0;
  struct sock* sk = (struct sock*)ctx->args[0];
  struct scratch* s = Scratch();
  if (s) RecordSocket(s, sk, 0);
  return 0;
}
