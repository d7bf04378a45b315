"""Small clients for the lab's own tests: raw DNS, raw TLS, packet capture.

These run inside tv-client (through lab.sh exec / in-lab.sh). They are kept
independent of the lab's server code, so a fault there cannot hide itself.
"""
import ipaddress
import os
import re
import socket
import ssl
import struct
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LAB = os.path.dirname(HERE)
ROOT = os.path.dirname(os.path.dirname(LAB))
LISTS = os.path.join(ROOT, "web", "lists")
LAB_SH = os.path.join(LAB, "lab.sh")
CA_PEM = os.path.join(LAB, "run", "ca.pem")

DOMESTIC = ipaddress.ip_network("198.18.0.0/16")
FOREIGN = ipaddress.ip_network("198.19.0.0/16")
MX_DOMESTIC = {"77.88.8.8", "77.88.55.242", "87.240.132.72", "213.59.254.7", "194.54.14.168",
               "217.69.139.200"}
RESOLVERS = ["198.18.0.53", "77.88.8.8", "1.1.1.1", "8.8.8.8", "9.9.9.9"]
PUBLIC = ["77.88.8.8", "1.1.1.1", "8.8.8.8", "9.9.9.9"]


def is_domestic(addr):
    return addr in MX_DOMESTIC or ipaddress.ip_address(addr) in DOMESTIC


def is_foreign(addr):
    return addr in ("1.1.1.1", "8.8.8.8", "9.9.9.9") or ipaddress.ip_address(addr) in FOREIGN


def list_groups():
    """[(group, name)] of web/lists/domains.txt, read independently of the lab."""
    out, group = [], ""
    with open(os.path.join(LISTS, "domains.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            m = re.match(r"#\s*\[(\w+)\]", line)
            if m:
                group = m.group(1)
            elif line and not line.startswith("#"):
                out.append((group, line.lower()))
    return out


def lab(*args, check=True):
    """Runs lab.sh (censor / ipinfo / status) and returns its output."""
    r = subprocess.run(["bash", LAB_SH] + list(args), capture_output=True, text=True, timeout=60)
    if check and r.returncode != 0:
        raise AssertionError("lab.sh %s failed: %s" % (" ".join(args), r.stderr))
    return r


def run(cmd, timeout=20):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)


# ---------------------------------------------------------------- DNS


def dns_message(name, qtype=1, qid=0x5AA5):
    q = struct.pack(">HHHHHH", qid, 0x0100, 1, 0, 0, 0)
    for label in name.split("."):
        q += bytes([len(label)]) + label.encode()
    return q + b"\0" + struct.pack(">HH", qtype, 1)


def dns_query(server, name, qtype=1, qid=0x5AA5, timeout=2.0):
    """Sends one query; returns (reply bytes, sender) or (None, None) on silence."""
    q = dns_message(name, qtype, qid)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(timeout)
    try:
        s.sendto(q, (server, 53))
        data, peer = s.recvfrom(4096)
        return data, peer
    except socket.timeout:
        return None, None
    finally:
        s.close()


def read_name(msg, pos):
    """Returns (name, position after the name, used a pointer at the start)."""
    labels, jumped, end, first_ptr = [], False, None, (msg[pos] & 0xC0) == 0xC0
    for _ in range(128):
        n = msg[pos]
        if n & 0xC0 == 0xC0:
            if not jumped:
                end = pos + 2
            jumped = True
            pos = ((n & 0x3F) << 8) | msg[pos + 1]
            continue
        if n == 0:
            return ".".join(labels), (end if jumped else pos + 1), first_ptr
        labels.append(msg[pos + 1:pos + 1 + n].decode())
        pos += 1 + n
    raise ValueError("name loop")


def parse_reply(msg):
    """Returns a dict: id, rcode, flags, answers [(name, type, data, pointer)]."""
    qid, flags, qd, an = struct.unpack(">HHHH", msg[:8])
    pos = 12
    for _ in range(qd):
        _, pos, _ = read_name(msg, pos)
        pos += 4
    answers = []
    for _ in range(an):
        name, pos, ptr = read_name(msg, pos)
        rtype, _cls, _ttl, rdlen = struct.unpack(">HHIH", msg[pos:pos + 10])
        pos += 10
        rdata = msg[pos:pos + rdlen]
        if rtype == 1:
            data = socket.inet_ntoa(rdata)
        elif rtype == 5:
            data = read_name(msg, pos)[0]
        else:
            data = rdata
        answers.append((name, rtype, data, ptr))
        pos += rdlen
    return {"id": qid, "rcode": flags & 0xF, "flags": flags, "answers": answers}


def resolve(name):
    """The system resolver's IPv4 answer, or the gaierror."""
    try:
        return socket.getaddrinfo(name, 443, socket.AF_INET, socket.SOCK_STREAM)[0][4][0]
    except socket.gaierror as e:
        return e


# ---------------------------------------------------------------- TLS


_VERIFYING = None


def client_context(verify=False):
    global _VERIFYING
    if verify:
        if _VERIFYING is None:
            _VERIFYING = ssl.create_default_context()  # the system store of tv-client
        return _VERIFYING
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    return ctx


def connect(addr, port=443, timeout=3.0):
    s = socket.create_connection((addr, port), timeout=timeout)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def handshake(addr, sni, verify=False, timeout=3.0, ctx=None, port=443):
    """A completed TLS client connection (ssl.SSLSocket); raises on failure."""
    ctx = ctx or client_context(verify)
    s = connect(addr, port, timeout=timeout)
    try:
        return ctx.wrap_socket(s, server_hostname=sni or None)
    except BaseException:
        s.close()
        raise


def peer_cn(tls):
    """The subject common name of the server's certificate: the last commonName
    attribute in the DER (the issuer's comes first)."""
    der = tls.getpeercert(binary_form=True)
    pos = der.rfind(b"\x06\x03\x55\x04\x03")
    if pos < 0:
        return ""
    n = der[pos + 6]
    return der[pos + 7:pos + 7 + n].decode()


def get(tls, host, timeout=3.0):
    """Sends a GET and returns everything up to EOF or the time-out."""
    tls.settimeout(timeout)
    tls.sendall(("GET / HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n" % host).encode())
    data = b""
    try:
        while True:
            chunk = tls.recv(65536)
            if not chunk:
                break
            data += chunk
    except (socket.timeout, ssl.SSLError, OSError):
        pass
    return data


def client_hello(sni):
    """The bytes of a real ClientHello for sni (None: no server name)."""
    inc, out = ssl.MemoryBIO(), ssl.MemoryBIO()
    obj = client_context().wrap_bio(inc, out, server_hostname=sni)
    try:
        obj.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return out.read()


def after_hello(addr, sni, wait=1.5):
    """Connects, sends a ClientHello and reports what came back first:
    "data", "eof", "reset" or "silence". Raises on a failed connect."""
    s = connect(addr)
    try:
        s.sendall(client_hello(sni))
        s.settimeout(wait)
        try:
            data = s.recv(65536)
        except ConnectionResetError:
            return "reset"
        except socket.timeout:
            return "silence"
        return "data" if data else "eof"
    finally:
        s.close()


def tcp_state(addr, port=443, timeout=1.5):
    """"open", "refused" or "timeout" for a TCP connect."""
    try:
        connect(addr, port, timeout).close()
        return "open"
    except ConnectionRefusedError:
        return "refused"
    except socket.timeout:
        return "timeout"


def tls_records(data):
    """Splits a byte stream into TLS records: [(type, body bytes with header)]."""
    out, pos = [], 0
    while pos + 5 <= len(data):
        n = struct.unpack(">H", data[pos + 3:pos + 5])[0]
        out.append((data[pos], data[pos:pos + 5 + n]))
        pos += 5 + n
    return out


class BioClient:
    """A TLS client over memory BIOs: the test sees every record it gets."""

    def __init__(self, addr, sni, ctx=None, timeout=3.0):
        self.sock = connect(addr, timeout=timeout)
        self.inc, self.out = ssl.MemoryBIO(), ssl.MemoryBIO()
        self.obj = (ctx or client_context()).wrap_bio(self.inc, self.out, server_hostname=sni)
        self.raw = b""  # everything received after the handshake

    def handshake(self):
        while True:
            try:
                self.obj.do_handshake()
                break
            except ssl.SSLWantReadError:
                o = self.out.read()
                if o:
                    self.sock.sendall(o)
                d = self.sock.recv(65536)
                if not d:
                    raise EOFError("closed during the handshake")
                self.inc.write(d)
        o = self.out.read()
        if o:
            self.sock.sendall(o)

    def send(self, data):
        self.obj.write(data)
        self.sock.sendall(self.out.read())

    def recv_raw(self, until_eof=True, quiet=1.0):
        """Collects raw bytes until EOF, or until `quiet` seconds pass without any.
        Returns "eof", "reset" or "quiet"."""
        self.sock.settimeout(quiet)
        try:
            while True:
                d = self.sock.recv(65536)
                if not d:
                    return "eof"
                self.raw += d
        except ConnectionResetError:
            return "reset"
        except socket.timeout:
            return "quiet"

    def plaintext_by_record(self):
        """Feeds the raw bytes one record at a time; returns (chunks, end) where
        chunks are the application data of each record that carried some and end
        is None, "close_notify" or "eof" (a TLS stream cut without an alert)."""
        chunks, end = [], None
        # None first: what arrived together with the handshake's last message.
        for rec in [None] + [r for _, r in tls_records(self.raw)]:
            if rec is not None:
                self.inc.write(rec)
            try:
                d = self.obj.read(65536)
                if d:
                    chunks.append(d)
                else:  # only a close_notify ends the stream here: no EOF is fed
                    end = "close_notify"
            except ssl.SSLWantReadError:
                pass
            except ssl.SSLZeroReturnError:
                end = "close_notify"
        return chunks, end

    def close(self):
        self.sock.close()


class Capture:
    """Captures the TCP segments that one address sends to tv-client."""

    def __init__(self, src, iface="tv-c0"):
        self.src = socket.inet_aton(src)
        self.s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0800))
        self.s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.s.bind((iface, 0))
        self.s.setblocking(False)

    def segments(self, settle=0.2):
        """[(tcp flags, payload bytes)] seen so far, in order."""
        time.sleep(settle)
        out = []
        while True:
            try:
                frame = self.s.recv(65536)
            except BlockingIOError:
                break
            ip = frame[14:]
            if len(ip) < 20 or ip[9] != 6 or ip[12:16] != self.src:
                continue
            ihl = (ip[0] & 0xF) * 4
            total = struct.unpack(">H", ip[2:4])[0]
            tcp = ip[ihl:total]
            doff = (tcp[12] >> 4) * 4
            out.append((tcp[13], tcp[doff:]))
        return out

    def close(self):
        self.s.close()


# ---------------------------------------------------------------- HTTP and hand-made hellos


def read_response(f):
    """One HTTP/1.1 response from a binary file object: (status line, headers
    with lower-case names, body), or None at the end of the stream."""
    status = f.readline()
    if not status:
        return None
    headers = {}
    while True:
        line = f.readline().decode("latin-1").strip()
        if not line:
            break
        k, _, v = line.partition(":")
        headers[k.strip().lower()] = v.strip()
    return status.decode("latin-1").strip(), headers, f.read(int(headers["content-length"]))


def request(method, host, path="/", body=b"", close=False, headers=()):
    head = "%s %s HTTP/1.1\r\nHost: %s\r\n" % (method, path, host)
    if body or method == "POST":
        head += "Content-Length: %d\r\n" % len(body)
    for h in headers:
        head += h + "\r\n"
    if close:
        head += "Connection: close\r\n"
    return head.encode() + b"\r\n" + body


def add_extension(hello, ext_type, data, first=False):
    """A ClientHello record with one more extension, at the end of the list or
    (first) at its front. Every length field is rebuilt."""
    body = hello[9:]  # record header (5) and handshake header (4) off
    pos = 2 + 32
    pos += 1 + body[pos]                                          # session id
    pos += 2 + struct.unpack(">H", body[pos:pos + 2])[0]          # cipher suites
    pos += 1 + body[pos]                                          # compression
    exts = body[pos + 2:]
    ext = struct.pack(">HH", ext_type, len(data)) + data
    exts = ext + exts if first else exts + ext
    body = body[:pos] + struct.pack(">H", len(exts)) + exts
    hs = b"\x01" + struct.pack(">I", len(body))[1:] + body
    return hello[:3] + struct.pack(">H", len(hs)) + hs


def after_bytes(addr, data, wait=1.5, split=None):
    """Like after_hello, for hand-made bytes; with `split`, sent as two
    segments, the first `split` bytes on their own."""
    s = connect(addr)
    try:
        if split:
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            s.sendall(data[:split])
            time.sleep(0.05)
            data = data[split:]
        s.sendall(data)
        s.settimeout(wait)
        try:
            return "data" if s.recv(65536) else "eof"
        except ConnectionResetError:
            return "reset"
        except socket.timeout:
            return "silence"
    finally:
        s.close()
