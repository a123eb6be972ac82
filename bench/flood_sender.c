// The traffic of the live flood benchmark (bench/live_flood.sh): UDP
// datagrams at a fixed frame rate for a fixed time, handed to the kernel in
// batches with sendmmsg, so that one sending core produces as many frames
// as it can.
//
// Usage: flood_sender DEST_ADDR PORT RATE SECONDS SIZE
//   RATE     frames per second; 0 sends as fast as the kernel takes them
//   SIZE     the Ethernet frame length in bytes (60 to 1514), or "mix":
//            the sizes of a realistic transfer (mostly full frames, some
//            requests and acknowledgement-sized answers, 970 bytes on
//            average, as bench/gen_capture.py's realistic mix)
// Prints one line: "sent N" with the number of frames the kernel accepted,
// then "refused N" when some were refused (a full queue).

#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kBatch = 64, kHeaders = 14 + 20 + 8, kLargest = 1514 };

// Frame lengths of the mix, repeated in this order: 970 bytes on average.
static const int kMix[] = {1514, 1514, 1514, 1514, 1514, 1514, 1514, 1514, 1514,
                           1514, 142,  142,  310,  90,   600,  90};

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static void SleepUntil(double when) {
  const double wait = when - Now();
  if (wait <= 0) return;
  // Sleeping overshoots by tens of microseconds: short waits spin.
  if (wait > 200e-6) {
    const double nap = wait - 100e-6;
    struct timespec t = {(time_t)nap, (long)((nap - (double)(time_t)nap) * 1e9)};
    nanosleep(&t, NULL);
  }
  while (Now() < when) {
  }
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: flood_sender DEST_ADDR PORT RATE SECONDS SIZE|mix\n");
    return 2;
  }
  struct sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons((uint16_t)atoi(argv[2]));
  if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) {
    fprintf(stderr, "flood_sender: not an IPv4 address: %s\n", argv[1]);
    return 2;
  }
  const double rate = atof(argv[3]);
  const double seconds = atof(argv[4]);
  const int mix = strcmp(argv[5], "mix") == 0;
  const int size = mix ? 0 : atoi(argv[5]);
  if (rate < 0 || seconds <= 0 || (!mix && (size < 60 || size > kLargest))) {
    fprintf(stderr, "flood_sender: bad rate, duration or size\n");
    return 2;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0 || connect(fd, (const struct sockaddr*)&to, sizeof to) != 0) {
    perror("flood_sender: socket");
    return 1;
  }
  // A deep send queue: a refused frame is a frame the benchmark never sent.
  const int queue = 8 << 20;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &queue, sizeof queue);

  static uint8_t payload[kLargest];
  memset(payload, 'x', sizeof payload);
  struct iovec iov[kBatch];
  struct mmsghdr msgs[kBatch];
  memset(msgs, 0, sizeof msgs);
  const int mixLength = (int)(sizeof kMix / sizeof kMix[0]);
  for (int i = 0; i < kBatch; ++i) {
    const int frame = mix ? kMix[i % mixLength] : size;
    iov[i].iov_base = payload;
    iov[i].iov_len = (size_t)(frame - kHeaders);
    msgs[i].msg_hdr.msg_iov = &iov[i];
    msgs[i].msg_hdr.msg_iovlen = 1;
  }

  uint64_t sent = 0, refused = 0, batches = 0;
  const double start = Now();
  const double end = start + seconds;
  for (;;) {
    if (rate > 0) {
      const double due = start + (double)(batches * kBatch) / rate;
      if (due >= end) break;
      SleepUntil(due);
    } else if (Now() >= end) {
      break;
    }
    ++batches;
    int done = 0;
    while (done < kBatch) {
      const int n = sendmmsg(fd, msgs + done, (unsigned)(kBatch - done), 0);
      if (n > 0) {
        done += n;
        continue;
      }
      if (errno == EINTR) continue;
      // A full queue or an unreachable answer: the rest of the batch is
      // counted as refused, and the pace goes on.
      refused += (uint64_t)(kBatch - done);
      break;
    }
    sent += (uint64_t)done;
  }
  printf("sent %llu\n", (unsigned long long)sent);
  if (refused > 0) printf("refused %llu\n", (unsigned long long)refused);
  close(fd);
  return 0;
}
