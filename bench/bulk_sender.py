#!/usr/bin/env python3
"""Bulk TCP traffic on loopback for a while: a server on 127.0.0.1 answers
every small request with REPLY bytes, and CLIENTS threads each connect,
ask and read the reply, over and over, on a new connection each time. On
lo the kernel hands the capture 64 KB segments, and every connection is
another conversation of hundreds of them.

Only ever talks to 127.0.0.1; run it inside a network namespace of its own.
Usage: bulk_sender.py [--seconds N] [--clients N] [--reply BYTES] [--port P]
Prints the bytes transferred when it ends."""

import argparse
import socket
import threading
import time

CHUNK = 1 << 20


def serve(listener, reply, stop):
    block = b"x" * CHUNK
    while not stop.is_set():
        try:
            conn, _ = listener.accept()
        except OSError:
            return
        threading.Thread(target=answer, args=(conn, reply, block), daemon=True).start()


def answer(conn, reply, block):
    with conn:
        try:
            if not conn.recv(256):
                return
            left = reply
            while left > 0:
                sent = conn.send(block[:min(left, CHUNK)])
                left -= sent
        except OSError:
            pass


def client(port, reply, deadline, totals, index):
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                s.sendall(b"GET /bulk HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                got = 0
                while got < reply:
                    data = s.recv(CHUNK)
                    if not data:
                        break
                    got += len(data)
                totals[index] += got
        except OSError:
            time.sleep(0.05)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--seconds", type=float, default=65)
    p.add_argument("--clients", type=int, default=4)
    p.add_argument("--reply", type=int, default=24 << 20)
    p.add_argument("--port", type=int, default=5901)
    a = p.parse_args()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", a.port))
    listener.listen(64)
    stop = threading.Event()
    threading.Thread(target=serve, args=(listener, a.reply, stop), daemon=True).start()
    deadline = time.monotonic() + a.seconds
    totals = [0] * a.clients
    threads = [threading.Thread(target=client, args=(a.port, a.reply, deadline, totals, i))
               for i in range(a.clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    stop.set()
    listener.close()
    print("bulk_sender: %d MB in %.0f s" % (sum(totals) >> 20, a.seconds))


if __name__ == "__main__":
    main()
