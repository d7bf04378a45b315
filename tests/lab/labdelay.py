#!/usr/bin/python3
"""Latency for the lab: holds every packet the router queues (NFQUEUE) for a
fixed time, then lets it go on to the censor's rules. Run by lab.sh inside
tv-router; the kernel has no netem, so the delay is made here.

    labdelay.py RUN_DIR

The delay in milliseconds is read from RUN_DIR/censor.json ("delay_ms") when
that file changes. Every packet waits the same time, so they leave in the
order they came, and one batch verdict ("accept every id up to N") releases
all that are due: one message per tick however many packets pass. Only the
standard library: nfnetlink spoken over a netlink socket by hand.
"""
import collections
import json
import os
import select
import socket
import struct
import sys
import time

RUN = sys.argv[1] if len(sys.argv) > 1 else "."
QUEUE = 0
NETLINK_NETFILTER = 12
NFNL_SUBSYS_QUEUE = 3
NFQNL_MSG_PACKET, NFQNL_MSG_CONFIG, NFQNL_MSG_VERDICT_BATCH = 0, 2, 3
NFQA_PACKET_HDR, NFQA_VERDICT_HDR = 1, 2
NFQA_CFG_CMD, NFQA_CFG_PARAMS, NFQA_CFG_QUEUE_MAXLEN = 1, 2, 3
NFQA_CFG_MASK, NFQA_CFG_FLAGS = 4, 5
NFQNL_CFG_CMD_BIND = 1
NFQNL_COPY_META = 1
NFQA_CFG_F_FAIL_OPEN = 1
NF_ACCEPT = 1
NLM_F_REQUEST, NLM_F_ACK = 1, 4
NLMSG_ERROR = 2
MAXLEN = 65536  # packets held at once; a full queue lets packets through undelayed


def attr(kind, payload):
    n = 4 + len(payload)
    return struct.pack("=HH", n, kind) + payload + b"\0" * ((4 - n % 4) % 4)


def message(msg_type, payload, flags=NLM_F_REQUEST, seq=0):
    head = struct.pack("=BBH", socket.AF_UNSPEC, 0, socket.htons(QUEUE))  # nfgenmsg
    body = head + payload
    return struct.pack("=IHHII", 16 + len(body), (NFNL_SUBSYS_QUEUE << 8) | msg_type,
                       flags, seq, 0) + body


def config(sock, payload, seq):
    sock.send(message(NFQNL_MSG_CONFIG, payload, NLM_F_REQUEST | NLM_F_ACK, seq))
    reply = sock.recv(65536)
    _, kind, _, _, _ = struct.unpack("=IHHII", reply[:16])
    if kind == NLMSG_ERROR:
        err = struct.unpack("=i", reply[16:20])[0]
        if err:
            raise OSError(-err, "nfqueue config: %s" % os.strerror(-err))


def open_queue():
    s = socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, NETLINK_NETFILTER)
    s.setsockopt(socket.SOL_SOCKET, 33, 16 << 20)  # SO_RCVBUFFORCE: bursts of thousands
    s.bind((0, 0))
    config(s, attr(NFQA_CFG_CMD, struct.pack("!BBH", NFQNL_CFG_CMD_BIND, 0, socket.AF_INET)), 1)
    config(s, attr(NFQA_CFG_PARAMS, struct.pack("!IB", 0, NFQNL_COPY_META)), 2)
    config(s, attr(NFQA_CFG_QUEUE_MAXLEN, struct.pack("!I", MAXLEN)), 3)
    config(s, attr(NFQA_CFG_MASK, struct.pack("!I", NFQA_CFG_F_FAIL_OPEN))
           + attr(NFQA_CFG_FLAGS, struct.pack("!I", NFQA_CFG_F_FAIL_OPEN)), 4)
    s.setblocking(False)
    return s


def packet_ids(data):
    """The packet ids of the queue messages in one netlink datagram."""
    pos = 0
    while pos + 16 <= len(data):
        n, kind, _, _, _ = struct.unpack_from("=IHHII", data, pos)
        if n < 16:
            return
        if kind == (NFNL_SUBSYS_QUEUE << 8) | NFQNL_MSG_PACKET:
            a, end = pos + 20, pos + n
            while a + 4 <= end:
                alen, akind = struct.unpack_from("=HH", data, a)
                if alen < 4:
                    break
                if akind & 0x3FFF == NFQA_PACKET_HDR:
                    yield struct.unpack_from("!I", data, a + 4)[0]
                    break
                a += (alen + 3) & ~3
        pos += (n + 3) & ~3


class DelaySetting:
    """The delay in force, re-read when censor.json changes."""

    def __init__(self, path):
        self.path = path
        self.stamp = None
        self.seconds = 0.0

    def get(self):
        try:
            st = os.stat(self.path)
            stamp = (st.st_mtime_ns, st.st_ino)
            if stamp != self.stamp:
                self.stamp = stamp
                with open(self.path) as f:
                    self.seconds = json.load(f).get("delay_ms", 0) / 1000.0
        except (OSError, ValueError):
            pass
        return self.seconds


def main():
    os.closerange(3, 65536)
    sock = open_queue()
    delay = DelaySetting(os.path.join(RUN, "censor.json"))
    with open(os.path.join(RUN, "labdelay.ready.tmp"), "w") as f:
        f.write("%d\n" % os.getpid())
    os.replace(os.path.join(RUN, "labdelay.ready.tmp"), os.path.join(RUN, "labdelay.ready"))
    held = collections.deque()  # (due, id), due times never decrease
    wait = delay.get()
    poller = select.poll()
    poller.register(sock, select.POLLIN)
    while True:
        timeout = 200 if not held else max(0, (held[0][0] - time.monotonic()) * 1000)
        if poller.poll(timeout):
            wait = delay.get()
            while True:
                try:
                    data = sock.recv(1 << 16)
                except BlockingIOError:
                    break
                except OSError:  # ENOBUFS: messages lost, their packets go with the next batch
                    continue
                now = time.monotonic()
                due = now + wait
                if held and held[-1][0] > due:  # the delay was shortened: keep the order
                    due = held[-1][0]
                for pid in packet_ids(data):
                    held.append((due, pid))
        now = time.monotonic()
        last = None
        while held and held[0][0] <= now:
            last = held.popleft()[1]
        if last is not None:
            sock.send(message(NFQNL_MSG_VERDICT_BATCH,
                              attr(NFQA_VERDICT_HDR, struct.pack("!II", NF_ACCEPT, last))))


if __name__ == "__main__":
    main()
