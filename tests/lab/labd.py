#!/usr/bin/python3
"""The lab's servers, run inside the tv-net namespace by lab.sh.

    labd.py RUN_DIR

One process serves everything the lab hosts:
  - DNS over UDP 53 on the lab resolver and on the public resolver addresses,
    answering the lab zone and the special DNS names;
  - TLS on port 443 of every host address, one behaviour per address; the
    ordinary hosts speak HTTP/1.1 with keep-alive and pipelining;
  - DNS over TLS (853) and over HTTPS (443, /dns-query) on the public
    resolver addresses, with the same zone;
  - the IP-information service over plain HTTP on port 80 of its address,
    and the stub host's block page on port 80 of its own.

Accepting runs on the main thread (a selector over every listening socket);
each TCP connection gets its own thread, so slow or silent behaviours never
hold up the ordinary hosts. TLS runs over memory BIOs, which gives byte-level
control over what goes out in which TCP segment.
"""
import base64
import fcntl
import itertools
import json
import os
import queue
import selectors
import signal
import socket
import ssl
import struct
import sys
import threading
import time
import traceback

RUN = sys.argv[1] if len(sys.argv) > 1 else "."
IDLE = 30.0          # bound on every wait for the client
HOLD = 60.0          # how long silent behaviours keep a connection open
SIOCOUTQNSD = 0x894B  # bytes queued on a TCP socket and not yet sent

PAGE_SIZE = 8192        # body of an ordinary host's page: 64 KiB in eight requests
MAX_BODY = 1 << 20      # largest request body accepted (and discarded)
MAX_HEAD = 65536

TLS_BEHAVIOURS = {
    "site", "anyname", "ok", "wrongname", "selfsigned", "expired", "alert", "clientcert",
    "rst", "silent", "close", "onebyte", "appdata", "http301", "http10", "http2",
    "httpnone", "httpclose", "httpalert", "httpsplit", "short", "stub",
}
RAW_BEHAVIOURS = {"rst", "silent", "close"}
# Ordinary hosts: keep-alive, pipelining, uploads, the large page.
KEEPALIVE_BEHAVIOURS = {"site", "anyname", "ok", "wrongname", "selfsigned", "expired", "alert",
                        "clientcert", "stub"}
PLAIN_BEHAVIOURS = KEEPALIVE_BEHAVIOURS | {"http301", "http10", "http2", "httpnone", "short"}

_log_lock = threading.Lock()


def log(msg):
    with _log_lock:
        sys.stderr.write(time.strftime("%H:%M:%S ") + msg + "\n")
        sys.stderr.flush()


# ---------------------------------------------------------------- DNS

T_A, T_CNAME, T_AAAA, T_ANY = 1, 5, 28, 255


def encode_name(name):
    out = b""
    for label in name.strip(".").split("."):
        raw = label.encode("ascii")
        out += bytes([len(raw)]) + raw
    return out + b"\0"


def rr(owner, rtype, rdata, ttl=60):
    return owner + struct.pack(">HHIH", rtype, 1, ttl, len(rdata)) + rdata


class Dns:
    def __init__(self, plan, stubbed=lambda: ()):
        self.zone = plan["zone"]
        self.specials = plan["dns_specials"]
        self.chain = plan["cname_chain"]
        self.system = plan["resolver_addrs"][0]
        self.per_resolver = plan["per_resolver"]
        self.stub_addr = plan["stub_addr"]
        self.stubbed = stubbed
        self.egress = {k: (v, itertools.count()) for k, v in plan["egress"].items()}

    def egress_addr(self, server):
        """Where the resolver at `server` sends its own queries from: one network
        per resolver, a different host of it from query to query."""
        (prefix, first, count), n = self.egress[server]
        return "%s%d" % (prefix, first + next(n) % count)

    def answer(self, q, server=None):
        """Returns the reply for the query q sent to the resolver address
        `server` (default: the system resolver), or None for no reply."""
        server = server or self.system
        if len(q) < 12:
            return None
        qid, flags, qdcount = struct.unpack(">HHH", q[:6])
        if flags & 0x8000:
            return None
        opcode = flags & 0x7800
        rd = flags & 0x0100
        pos, labels = 12, []
        while True:
            if pos >= len(q) or qdcount != 1:
                return struct.pack(">HHHHHH", qid, 0x8000 | opcode | rd | 0x80 | 1, 0, 0, 0, 0)
            n = q[pos]
            if n == 0:
                pos += 1
                break
            if n & 0xC0:
                return None
            labels.append(q[pos + 1:pos + 1 + n])
            pos += 1 + n
        if pos + 4 > len(q):
            return None
        qtype, _qclass = struct.unpack(">HH", q[pos:pos + 4])
        question = q[12:pos + 4]
        name = b".".join(labels).decode("ascii", "replace").lower()

        def reply(rcode, answers=(), rid=qid):
            head = struct.pack(">HHHHHH", rid, 0x8000 | opcode | 0x0400 | rd | 0x80 | rcode,
                               1, len(answers), 0, 0)
            return head + question + b"".join(answers)

        want_a = qtype in (T_A, T_ANY)
        special = self.specials.get(name)
        if server == self.system and name in self.stubbed():
            return reply(0, [rr(b"\xc0\x0c", T_A, socket.inet_aton(self.stub_addr))]
                         if want_a else [])
        if special == "whoami":
            return reply(0, [rr(b"\xc0\x0c", T_A, socket.inet_aton(self.egress_addr(server)))]
                         if want_a else [])
        if special == "silent":
            return None
        if special == "nxdomain":
            return reply(3)
        if special == "servfail":
            return reply(2)
        if special == "refused":
            return reply(5)
        if special == "empty":
            return reply(0)
        if name in self.chain[:-1]:
            # A CNAME chain that ends in an A record of the last name.
            answers, owner = [], b"\xc0\x0c"
            for i in range(self.chain.index(name), len(self.chain) - 1):
                answers.append(rr(owner, T_CNAME, encode_name(self.chain[i + 1])))
                owner = encode_name(self.chain[i + 1])
            if want_a:
                answers.append(rr(owner, T_A, socket.inet_aton(self.zone[self.chain[-1]])))
            return reply(0, answers)
        addr = self.per_resolver.get(name, {}).get(server) or self.zone.get(name)
        if addr is None:
            return reply(3)
        if not want_a:
            return reply(0)
        if special == "fullname":
            return reply(0, [rr(encode_name(name), T_A, socket.inet_aton(addr))])
        answer = rr(b"\xc0\x0c", T_A, socket.inet_aton(addr))
        if special == "badid":
            return reply(0, [answer], rid=qid ^ 0xFFFF)
        return reply(0, [answer])


# ---------------------------------------------------------------- TLS helpers


def recv_exact_record(sock):
    """Reads one whole TLS record (normally the ClientHello); returns its bytes."""
    buf = b""
    need = 5
    while len(buf) < need:
        chunk = sock.recv(65536)
        if not chunk:
            return buf
        buf += chunk
        if len(buf) >= 5:
            need = 5 + struct.unpack(">H", buf[3:5])[0]
    return buf


def drain_until_eof(sock, limit):
    """Reads and discards until the client closes, at most `limit` seconds."""
    deadline = time.monotonic() + limit
    try:
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return
            sock.settimeout(left)
            if not sock.recv(65536):
                return
    except OSError:
        return


def finish(sock, limit=5.0):
    """Orderly close: FIN, wait for the client's close, then release."""
    try:
        sock.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    drain_until_eof(sock, limit)


def send_bytewise(sock, data):
    """Sends each byte in a TCP segment of its own: the next byte goes out only
    once the kernel has put the previous one on the wire."""
    for i in range(len(data)):
        sock.sendall(data[i:i + 1])
        deadline = time.monotonic() + 2.0
        while time.monotonic() < deadline:
            unsent = struct.unpack("i", fcntl.ioctl(sock.fileno(), SIOCOUTQNSD, b"\0\0\0\0"))[0]
            if unsent == 0:
                break
            time.sleep(0.0002)


class Tls:
    """Server side of one TLS connection over memory BIOs."""

    def __init__(self, sock, ctx):
        self.sock = sock
        self.inc = ssl.MemoryBIO()
        self.out = ssl.MemoryBIO()
        self.obj = ctx.wrap_bio(self.inc, self.out, server_side=True)

    def fill(self):
        data = self.sock.recv(65536)
        if not data:
            self.inc.write_eof()
            raise EOFError
        self.inc.write(data)

    def flush(self, send=None):
        out = self.out.read()
        if out:
            (send or self.sock.sendall)(out)

    def handshake(self, send=None, final=b""):
        """Runs the handshake; `final` is application data sent in the same
        write as the last handshake message. Returns False when it failed
        (any alert has been sent)."""
        try:
            while True:
                try:
                    self.obj.do_handshake()
                    break
                except ssl.SSLWantReadError:
                    self.flush(send)
                    self.fill()
        except ssl.SSLError:
            try:
                self.flush(send)
            except OSError:
                pass
            return False
        if final:
            self.obj.write(final)
        self.flush(send)
        return True

    def read_request(self, limit=65536):
        buf = b""
        while b"\r\n\r\n" not in buf and len(buf) < limit:
            try:
                chunk = self.obj.read(16384)
            except ssl.SSLWantReadError:
                self.fill()
                continue
            except (ssl.SSLZeroReturnError, ssl.SSLEOFError):
                break
            if not chunk:
                break
            buf += chunk
        return buf

    def write(self, data):
        self.obj.write(data)
        self.flush()

    def close_notify(self):
        try:
            self.obj.unwrap()
        except (ssl.SSLWantReadError, ssl.SSLError):
            pass
        self.flush()


def http_response(status, body=b"", headers=()):
    head = status + "\r\n"
    for h in headers:
        head += h + "\r\n"
    return head.encode() + b"\r\n" + body


def page(name):
    """The small page of the hosts with byte-level tricks and of short.lab.test."""
    body = ("<!doctype html><title>%s</title><p>lab host %s</p>\n" % (name, name)).encode()
    return http_response("HTTP/1.1 200 OK", body, [
        "Content-Type: text/html; charset=utf-8", "Content-Length: %d" % len(body),
        "Connection: close"])


_BIG_PAGES = {}


def big_page(name):
    """An ordinary host's page: PAGE_SIZE bytes, padded inside an HTML comment."""
    body = _BIG_PAGES.get(name)
    if body is None:
        head = "<!doctype html><title>%s</title><p>lab host %s</p>\n<!-- " % (name, name)
        tail = " -->\n"
        fill = PAGE_SIZE - len(head) - len(tail)
        line = "0123456789abcdef" * 4 + "\n"  # short lines, for whoever prints it
        body = (head + (line * (fill // len(line) + 1))[:fill] + tail).encode()
        _BIG_PAGES[name] = body
    return body


STUB_PAGE = (b"<!doctype html><title>access restricted</title>"
             b"<p>Access to this resource is restricted by the operator.</p>\n")


def respond(status, body, ctype, close):
    return http_response(status, body, [
        "Content-Type: " + ctype, "Content-Length: %d" % len(body),
        "Connection: " + ("close" if close else "keep-alive")])


class Request:
    def __init__(self, method, target, version, headers, length):
        self.method, self.target, self.version = method, target, version
        self.headers, self.length = headers, length
        self.path = target.split("?", 1)[0]
        self.body = None
        conn = headers.get("connection", "").lower()
        self.close = "close" in conn or (version == "HTTP/1.0" and "keep-alive" not in conn)


class HttpReader:
    """HTTP/1.1 requests off a stream, one after another. A body is read in
    full (kept only when `keep(request)` says so), so that the next request
    starts where it ends; a body larger than MAX_BODY is not read at all."""

    def __init__(self, recv):
        self.recv = recv
        self.buf = b""

    def more(self):
        chunk = self.recv(65536)
        if not chunk:
            raise EOFError
        self.buf += chunk

    def next(self, keep=lambda req: False):
        """The next request; None once the client closed or sent no HTTP."""
        try:
            while True:
                end = self.buf.find(b"\r\n\r\n")
                if end >= 0:
                    break
                if len(self.buf) > MAX_HEAD:
                    return None
                self.more()
            lines = self.buf[:end].decode("latin-1").split("\r\n")
            self.buf = self.buf[end + 4:]
            parts = lines[0].split(" ")
            if len(parts) != 3 or not parts[2].startswith("HTTP/"):
                return None
            headers = {}
            for line in lines[1:]:
                k, _, v = line.partition(":")
                headers[k.strip().lower()] = v.strip()
            length = headers.get("content-length", "0")
            req = Request(parts[0], parts[1], parts[2], headers,
                          int(length) if length.isdigit() else -1)
            if not 0 <= req.length <= MAX_BODY:
                return req
            wanted, kept, need = keep(req), [], req.length
            while True:
                take = min(need, len(self.buf))
                if wanted:
                    kept.append(self.buf[:take])
                self.buf = self.buf[take:]
                need -= take
                if not need:
                    break
                self.more()
            if wanted:
                req.body = b"".join(kept)
            return req
        except EOFError:
            return None


ANSWERS = {
    "http301": http_response("HTTP/1.1 301 Moved Permanently", b"", [
        "Location: https://ok.lab.test/", "Content-Length: 0", "Connection: close"]),
    "http10": http_response("HTTP/1.0 200 OK", b"<p>lab host http10</p>\n", [
        "Content-Type: text/html", "Content-Length: 23"]),
    "http2": http_response("HTTP/2 200", b"", ["content-type: text/html", "content-length: 0"]),
}


class Pool:
    """Threads that are reused: a job goes to an idle thread, or to a new one
    when none is idle, so a connection never waits behind a slow one."""

    def __init__(self):
        self.jobs = queue.SimpleQueue()
        self.idle = 0
        self.lock = threading.Lock()

    def submit(self, fn, *args):
        with self.lock:
            spawn = self.idle == 0
            if not spawn:
                self.idle -= 1
        self.jobs.put((fn, args))
        if spawn:
            threading.Thread(target=self.work, daemon=True).start()

    def work(self):
        while True:
            fn, args = self.jobs.get()
            fn(*args)
            with self.lock:
                self.idle += 1


class CensorState:
    """The part of the censor modes that the servers act on (lab.sh writes
    it at every change): the names the system resolver answers with the stub."""

    def __init__(self, path):
        self.path = path
        self.stamp = None
        self.stubs = frozenset()

    def stubbed(self):
        try:
            st = os.stat(self.path)
            if (st.st_mtime_ns, st.st_ino) != self.stamp:
                with open(self.path) as f:
                    self.stubs = frozenset(json.load(f).get("dns_stub", []))
                self.stamp = (st.st_mtime_ns, st.st_ino)
        except (OSError, ValueError):
            self.stubs = frozenset()
        return self.stubs


class Server:
    def __init__(self, run):
        self.run = run
        with open(os.path.join(run, "plan.json")) as f:
            self.plan = json.load(f)
        self.censor = CensorState(os.path.join(run, "censor.json"))
        self.dns = Dns(self.plan, self.censor.stubbed)
        self.ca = os.path.join(run, "ca.pem")
        self.contexts = {}
        self.pool = Pool()

    # -- TLS contexts

    def context(self, host):
        b = host["behaviour"]
        name = host["name"]
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(os.path.join(self.run, "certs", name + ".pem"),
                            os.path.join(self.run, "certs", "leaf.key"))
        if b == "appdata":
            ctx.maximum_version = ssl.TLSVersion.TLSv1_2
        if b == "clientcert":
            # TLS 1.2, so that the missing certificate fails the handshake
            # itself rather than the first read after it.
            ctx.maximum_version = ssl.TLSVersion.TLSv1_2
            ctx.verify_mode = ssl.CERT_REQUIRED
            ctx.load_verify_locations(self.ca)
        if b == "alert":
            def on_sni(_obj, server_name, _ctx, own=name):
                if server_name != own:
                    return ssl.ALERT_DESCRIPTION_UNRECOGNIZED_NAME
                return None
            ctx.sni_callback = on_sni
        return ctx

    # -- connection handlers

    def serve_tls(self, sock, host):
        b = host["behaviour"]
        if b in RAW_BEHAVIOURS:
            recv_exact_record(sock)
            if b == "rst":
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            elif b == "silent":
                drain_until_eof(sock, HOLD)
            elif b == "close":
                finish(sock)
            return
        if b in PLAIN_BEHAVIOURS:
            self.serve_plain(sock, host)
            return
        tls = Tls(sock, self.contexts[host["name"]])
        if b == "onebyte":
            ok = tls.handshake(send=lambda d: send_bytewise(sock, d))
        elif b == "appdata":
            ok = tls.handshake(final=page(host["name"]))
        else:
            ok = tls.handshake()
        if not ok:
            finish(sock, 2.0)
            return
        req = tls.read_request()
        if not req:
            finish(sock)
            return
        if b == "httpclose":
            finish(sock)
            return
        if b == "httpalert":
            tls.close_notify()
            finish(sock)
            return
        if b == "httpsplit":
            # Two TLS records, sent as two segments: "HTTP/1.1 2" | "00 OK\r\n...".
            resp = page(host["name"])
            tls.write(resp[:10])
            tls.write(resp[10:])
        elif b != "appdata":  # appdata's answer went out with the handshake
            tls.write(page(host["name"]))
        tls.close_notify()
        finish(sock)

    def serve_plain(self, sock, host):
        """Hosts without byte-level tricks: the handshake and the answers run in
        OpenSSL's own socket loop, which keeps the many-client load cheap."""
        b = host["behaviour"]
        tls = self.contexts[host["name"]].wrap_socket(sock, server_side=True,
                                                      do_handshake_on_connect=False)
        try:
            try:
                tls.do_handshake()
            except ssl.SSLError:
                # The alert is out; FIN and read what the client still sends,
                # so that closing does not turn into a reset.
                finish(tls, 2.0)
                return
            if b in KEEPALIVE_BEHAVIOURS:
                if not self.serve_requests(tls, host):
                    return
            else:
                # One answer whatever the request asked for, then the close.
                req = b""
                while b"\r\n\r\n" not in req and len(req) < 65536:
                    chunk = tls.recv(16384)
                    if not chunk:
                        return
                    req += chunk
                if b == "httpnone":
                    drain_until_eof(tls, HOLD)
                    return
                tls.sendall(ANSWERS.get(b) or page(host["name"]))
            # close_notify, then FIN at once (a blocking unwrap would wait for
            # the client's close_notify); the client's own close ends the wait.
            tls.setblocking(False)
            try:
                tls.unwrap()
            except (ssl.SSLWantReadError, ssl.SSLWantWriteError):
                pass
            tls.settimeout(IDLE)
            finish(tls)
        finally:
            tls.close()

    def serve_requests(self, tls, host):
        """Answers requests in order until one asks to close (True: close the
        session now) or the client goes (False). Each answer is a write (and a
        TLS record) of its own, so a cut stream still shows whole answers."""
        doh = host["behaviour"] == "anyname"
        keep = (lambda r: r.method == "POST" and r.path == "/dns-query") if doh else None
        reader = HttpReader(tls.recv)
        while True:
            req = reader.next(keep) if keep else reader.next()
            if req is None:
                return False
            answer = self.http_answer(host, req)
            if answer is None:  # a DNS query with no reply: nothing more on this connection
                drain_until_eof(tls, HOLD)
                return False
            tls.sendall(answer)
            if req.close or not 0 <= req.length <= MAX_BODY:
                return True

    def http_answer(self, host, req):
        b = host["behaviour"]
        if not 0 <= req.length <= MAX_BODY:
            return respond("HTTP/1.1 413 Content Too Large", b"", "text/plain", True)
        if b == "stub":
            return respond("HTTP/1.1 200 OK", STUB_PAGE, "text/html; charset=utf-8", req.close)
        if b == "anyname" and req.path == "/dns-query":
            return self.doh_answer(host, req)
        if req.method == "POST":
            return respond("HTTP/1.1 200 OK", b"received %d bytes\n" % req.length,
                           "text/plain", req.close)
        return respond("HTTP/1.1 200 OK", big_page(host["name"]), "text/html; charset=utf-8",
                       req.close)

    def doh_answer(self, host, req):
        """DNS over HTTPS (RFC 8484): GET ?dns=<base64url> or POST of the message."""
        q = None
        if req.method == "GET":
            for part in req.target.partition("?")[2].split("&"):
                k, _, v = part.partition("=")
                if k == "dns":
                    try:
                        q = base64.urlsafe_b64decode(v + "=" * (-len(v) % 4))
                    except ValueError:
                        q = None
        elif req.method == "POST":
            ctype = req.headers.get("content-type", "").split(";")[0].strip().lower()
            if ctype != "application/dns-message":
                return respond("HTTP/1.1 415 Unsupported Media Type", b"", "text/plain",
                               req.close)
            q = req.body
        else:
            return respond("HTTP/1.1 405 Method Not Allowed", b"", "text/plain", req.close)
        if not q:
            return respond("HTTP/1.1 400 Bad Request", b"", "text/plain", req.close)
        r = self.dns.answer(q, host["addr"])
        if r is None:
            return None
        return respond("HTTP/1.1 200 OK", r, "application/dns-message", req.close)

    def serve_dot(self, sock, host):
        """DNS over TLS (RFC 7858): length-prefixed messages, as many as the
        client sends; answers to queries sent together leave together."""
        tls = self.contexts[host["name"]].wrap_socket(sock, server_side=True,
                                                      do_handshake_on_connect=False)
        try:
            try:
                tls.do_handshake()
            except ssl.SSLError:
                finish(tls, 2.0)
                return
            buf, out = b"", []
            while True:
                while len(buf) < 2 or len(buf) < 2 + struct.unpack(">H", buf[:2])[0]:
                    if out:
                        tls.sendall(b"".join(out))
                        out = []
                    chunk = tls.recv(65536)
                    if not chunk:
                        return
                    buf += chunk
                n = struct.unpack(">H", buf[:2])[0]
                r = self.dns.answer(buf[2:2 + n], host["addr"])
                buf = buf[2 + n:]
                if r is not None:
                    out.append(struct.pack(">H", len(r)) + r)
        finally:
            tls.close()

    def serve_stub_http(self, sock):
        """The stub host's block page over plain HTTP, for any request."""
        if HttpReader(sock.recv).next() is None:
            return
        sock.sendall(respond("HTTP/1.1 200 OK", STUB_PAGE, "text/html; charset=utf-8", True))
        finish(sock)

    def ipinfo_mode(self):
        try:
            with open(os.path.join(self.run, "ipinfo")) as f:
                return f.read().strip() or "success"
        except OSError:
            return "success"

    def serve_ipinfo(self, sock, peer):
        buf = b""
        while b"\r\n\r\n" not in buf and len(buf) < 65536:
            chunk = sock.recv(65536)
            if not chunk:
                return
            buf += chunk
        mode = self.ipinfo_mode()
        if mode == "silent":
            drain_until_eof(sock, HOLD)
            return
        if mode == "403":
            body = b'{"status":"fail","message":"forbidden"}'
            sock.sendall(http_response("HTTP/1.1 403 Forbidden", body, [
                "Content-Type: application/json; charset=utf-8",
                "Content-Length: %d" % len(body), "Connection: close"]))
            finish(sock)
            return
        obj = {"status": "success", "country": "Russia", "city": "Moscow",
               "isp": "Lab Telecom", "org": "Lab Telecom LLC", "as": "AS64500 Lab Telecom",
               "query": peer[0]}
        if mode == "long":
            # 20000 bytes in five chunks of 4000, written apart so that the
            # client sees several reads.
            text = json.dumps(obj, separators=(",", ":"))
            pad = 20000 - len(text) - len(',"pad":""')
            body = (text[:-1] + ',"pad":"' + "0123456789" * (pad // 10) + "x" * (pad % 10)
                    + '"}').encode()
            sock.sendall(http_response("HTTP/1.1 200 OK", b"", [
                "Content-Type: application/json; charset=utf-8",
                "Transfer-Encoding: chunked", "Connection: close"]))
            for i in range(0, len(body), 4000):
                part = body[i:i + 4000]
                sock.sendall(b"%x\r\n" % len(part) + part + b"\r\n")
                time.sleep(0.02)
            sock.sendall(b"0\r\n\r\n")
        else:
            body = json.dumps(obj, separators=(",", ":")).encode()
            sock.sendall(http_response("HTTP/1.1 200 OK", body, [
                "Content-Type: application/json; charset=utf-8",
                "Content-Length: %d" % len(body), "Connection: close"]))
        finish(sock)

    def handle(self, sock, peer, kind, host):
        try:
            sock.settimeout(IDLE)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if kind == "tls":
                self.serve_tls(sock, host)
            elif kind == "dot":
                self.serve_dot(sock, host)
            elif kind == "stubhttp":
                self.serve_stub_http(sock)
            else:
                self.serve_ipinfo(sock, peer)
        except (OSError, EOFError, ssl.SSLError):
            pass
        except Exception:  # a fault of this server: keep the others running
            log("handler %s: %s" % (host and host["name"], traceback.format_exc()))
        finally:
            try:
                sock.close()
            except OSError:
                pass

    # -- main loop

    def listen(self, addr, port):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((addr, port))
        s.listen(1024)
        s.setblocking(False)
        return s

    def serve(self):
        sel = selectors.DefaultSelector()
        for addr in self.plan["resolver_addrs"]:
            u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            u.bind((addr, 53))
            u.setblocking(False)
            sel.register(u, selectors.EVENT_READ, ("dns", addr))
        for host in self.plan["hosts"]:
            b = host["behaviour"]
            if b in TLS_BEHAVIOURS:
                if b not in RAW_BEHAVIOURS:
                    self.contexts[host["name"]] = self.context(host)
                sel.register(self.listen(host["addr"], 443), selectors.EVENT_READ, ("tls", host))
                if b == "anyname":
                    sel.register(self.listen(host["addr"], 853), selectors.EVENT_READ,
                                 ("dot", host))
                if b == "stub":
                    sel.register(self.listen(host["addr"], 80), selectors.EVENT_READ,
                                 ("stubhttp", host))
            elif b == "ipinfo":
                sel.register(self.listen(host["addr"], 80), selectors.EVENT_READ,
                             ("ipinfo", host))
        with open(os.path.join(self.run, "labd.ready"), "w") as f:
            f.write("%d\n" % os.getpid())
        while True:
            for key, _ in sel.select():
                kind, host = key.data
                s = key.fileobj
                if kind == "dns":
                    try:
                        while True:
                            q, peer = s.recvfrom(4096)
                            r = self.dns.answer(q, host)
                            if r is not None:
                                s.sendto(r, peer)
                    except BlockingIOError:
                        pass
                    except OSError:
                        pass
                    continue
                try:
                    conn, peer = s.accept()
                except OSError:
                    continue
                conn.setblocking(True)
                self.pool.submit(self.handle, conn, peer, kind, host)


def main():
    # Inherited descriptors would keep their holders' locks (e.g. a caller's
    # `flock /tmp/tv-lab.lock lab.sh up`) alive for as long as the lab runs.
    os.closerange(3, 65536)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    threading.stack_size(256 * 1024)
    Server(RUN).serve()


if __name__ == "__main__":
    main()
