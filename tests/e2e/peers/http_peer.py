# A loopback HTTP server for the engine's client tests. Writes its port to
# the file named by the second argument, then serves until killed, on the
# address given as the third (127.0.0.1 without one); every request it sees
# is appended to the log file named by the first, one Python literal per
# line. "/to/<status>/<location, percent-encoded>" redirects any method. A
# request for an absolute URL is passed on to that URL's server, as a proxy
# does. "/endless" answers 200 and sends until the client hangs up;
# "/sized/<n>" sends n bytes with their Content-Length, or as many as the
# client takes. Hostile answers, each HTTP/1.1 so that the connection could
# be kept: "/chunked/<size>/<n>" sends n bytes in chunks of size bytes;
# "/gzip/<n>" n zero bytes compressed with "Transfer-Encoding: gzip,
# chunked"; "/trailers" a short chunked body and then trailer lines without
# end; "/redirect/endless" and "/redirect/sized/<n>" a redirect to "/final"
# whose body never ends, chunked or announced as n bytes.
import email.parser, http.client, http.server, os, sys, time, urllib.parse, zlib

LOG = sys.argv[1]

def note(**entry):
    with open(LOG, "a") as f:
        f.write(repr(entry) + "\n")

class Peer(http.server.BaseHTTPRequestHandler):
    def reply(self, code, body=b"", headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    # Holds the connection until the client closes it, and says so.
    def wait_for_close(self):
        self.connection.recv(1)
        note(closed=self.path)

    # Sends `total` bytes (None: without end) until the client hangs up,
    # and says how many went.
    def stream(self, total):
        self.send_response(200)
        if total is not None:
            self.send_header("Content-Length", str(total))
        self.end_headers()
        chunk, sent = b"e" * 65536, 0
        try:
            while total is None or sent < total:
                piece = chunk if total is None else chunk[:min(len(chunk), total - sent)]
                self.wfile.write(piece)
                sent += len(piece)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            note(cut=self.path, sent=sent)

    # Sends the head of an HTTP/1.1 answer, then the blocks `blocks` gives,
    # until they end or the client hangs up, and says how it ended.
    def raw(self, head, blocks):
        try:
            self.wfile.write(head.encode())
            for block in blocks:
                self.wfile.write(block)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            note(cut=self.path)

    def chunked(self, size, total):
        one = b"%x\r\n%s\r\n" % (size, b"c" * size)
        whole, rest = divmod(total, size)
        yield one * whole
        if rest:
            yield b"%x\r\n%s\r\n" % (rest, b"c" * rest)
        yield b"0\r\n\r\n"

    # Made whole before anything is sent, so that it arrives as fast as the
    # client reads.
    def gzipped(self, total):
        packer, block, left, pieces = zlib.compressobj(9, zlib.DEFLATED, 31), bytes(1 << 20), total, []
        while left:
            pieces.append(packer.compress(block[:min(left, len(block))]))
            left -= min(left, len(block))
        packed = b"".join(pieces) + packer.flush()
        yield b"".join(b"%x\r\n%s\r\n" % (len(packed[at:at + 16384]), packed[at:at + 16384])
                       for at in range(0, len(packed), 16384)) + b"0\r\n\r\n"

    def endless_trailers(self):
        yield b"2\r\nok\r\n0\r\n"
        for n in range(1 << 62):
            yield b"".join(b"X-%d: t\r\n" % i for i in range(n * 4096, n * 4096 + 4096))

    def endless_chunks(self):
        block = b"%x\r\n%s\r\n" % (65536, b"r" * 65536)
        while True:
            yield block

    def hostile(self):
        parts = self.path.split("/")
        if self.path.startswith("/chunked/"):
            head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
            self.raw(head, self.chunked(int(parts[2]), int(parts[3])))
        elif self.path.startswith("/gzip/"):
            self.raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", self.gzipped(int(parts[2])))
        elif self.path == "/trailers":
            self.raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", self.endless_trailers())
        elif self.path == "/redirect/endless":
            head = "HTTP/1.1 302 Found\r\nLocation: /final\r\nTransfer-Encoding: chunked\r\n\r\n"
            self.raw(head, self.endless_chunks())
        elif self.path.startswith("/redirect/sized/"):
            head = "HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: %s\r\n\r\n" % parts[3]
            self.raw(head, iter(lambda: b"r" * 65536, None))
        else:
            return False
        return True

    # Answers a redirect when the path asks for one.
    def redirected(self):
        if not self.path.startswith("/to/"):
            return False
        status, location = self.path[4:].split("/", 1)
        self.reply(int(status), b"", [("Location", urllib.parse.unquote(location))])
        return True

    # As a proxy: the request goes on to its server as it came (its method,
    # headers and body), and the answer comes back as it was.
    def forward(self):
        target = urllib.parse.urlsplit(self.path)
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else None
        note(method=self.command, proxied=self.path, agent=self.headers.get("User-Agent"))
        upstream = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=10)
        headers = {k: v for k, v in self.headers.items() if k.lower() not in ("proxy-connection", "connection")}
        upstream.request(self.command, target.path + ("?" + target.query if target.query else ""), body, headers)
        answer = upstream.getresponse()
        passed = [(k, v) for k, v in answer.getheaders() if k.lower() not in ("content-length", "connection")]
        self.reply(answer.status, answer.read(), passed)
        upstream.close()

    def do_GET(self):
        if self.path.startswith("http://"):
            return self.forward()
        note(method=self.command, path=self.path, agent=self.headers.get("User-Agent"))
        if self.redirected() or self.hostile():
            pass
        elif self.path == "/redirect":
            self.reply(302, b"", [("Location", "/final")])
        elif self.path.startswith("/loop"):
            self.reply(302, b"", [("Location", "/loop%d" % (int(self.path[5:]) + 1))])
        elif self.path == "/endless":
            self.stream(None)
        elif self.path.startswith("/sized/"):
            self.stream(int(self.path[7:]))
        elif self.path == "/silent":
            self.wait_for_close()
        elif self.path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.write(b"ab")
            self.wfile.flush()
            self.wait_for_close()
        elif self.path == "/slow":
            self.send_response(200)
            self.send_header("Content-Length", "30000")
            self.end_headers()
            for _ in range(3):
                self.wfile.write(b"x" * 10000)
                self.wfile.flush()
                time.sleep(0.3)
        else:
            self.reply(200, b"final body", [("X-Peer", "one"), ("X-Peer", "two")])

    do_HEAD = do_GET

    def do_POST(self):
        if self.path.startswith("http://"):
            return self.forward()
        raw = self.rfile.read(int(self.headers["Content-Length"]))
        head = "Content-Type: %s\r\n\r\n" % self.headers["Content-Type"]
        message = email.parser.BytesParser().parsebytes(head.encode() + raw)
        fields = {p.get_param("name", header="content-disposition"): p.get_payload(decode=True).decode()
                  for p in (message.get_payload() if message.is_multipart() else [])}
        note(method="POST", path=self.path, type=self.headers["Content-Type"], fields=fields)
        if not self.redirected():
            self.reply(200, b"posted")

    def do_PUT(self):
        note(method="PUT", body=self.rfile.read(int(self.headers["Content-Length"])))
        self.reply(201, b"stored")

    def log_message(self, *args):
        pass

server = http.server.ThreadingHTTPServer((sys.argv[3] if len(sys.argv) > 3 else "127.0.0.1", 0), Peer)
with open(sys.argv[2] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(sys.argv[2] + ".tmp", sys.argv[2])
server.serve_forever()
