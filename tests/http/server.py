#!/usr/bin/env python3
"""A small HTTP server for the url! tests, on 127.0.0.1 and a free port.

Prints its port on the first line of standard output, then serves until it is
killed. With --tls CERT KEY it serves HTTPS with that certificate.

  /echo       any method: "METHOD /echo", each request header line as
              received, an empty line, then the request body
  /cookies    two Set-Cookie headers
  /raw        a raw "X-Raw:value" header line (no blank after the colon)
  /missing    404 with a body
  /redirect   302 to /echo
  /bad-utf8   a body that is not UTF-8
  /crlf       text with CR LF line ends
  /script     a script with a header, CR LF line ends
  /data       loadable data
  /big?n=N    N bytes of "x", streamed (Content-Length given)
  /picture    a 2x1 PNG (red, then green at half alpha) as image/png;
              /picture-untyped the same with no Content-Type
  /json       a JSON document as application/json
  /hits       how many requests the server answered before this one
"""
import http.server
import socketserver
import ssl
import struct
import sys
import threading
import zlib

hits = 0
hits_lock = threading.Lock()


def png_2x1():
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    header = struct.pack(">IIBBBBB", 2, 1, 8, 6, 0, 0, 0)
    rows = b"\x00" + bytes([255, 0, 0, 255, 0, 255, 0, 128])
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=(), raw_lines=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        for line in raw_lines:
            self._headers_buffer.append(line)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def serve(self):
        global hits
        path = self.path
        with hits_lock:
            answered = hits
            hits += 1
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        if path == "/echo":
            text = ("%s %s\n" % (self.command, path)).encode()
            for name, value in self.headers.items():
                text += ("%s: %s\n" % (name, value)).encode("latin-1")
            self.reply(200, text + b"\n" + body, [("Content-Type", "text/plain")])
        elif path == "/cookies":
            self.reply(200, b"ok", [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2")])
        elif path == "/raw":
            self.reply(200, b"ok", raw_lines=[b"X-Raw:value\r\n"])
        elif path == "/missing":
            self.reply(404, b"not here")
        elif path == "/redirect":
            self.reply(302, b"moved", [("Location", "/echo"), ("X-Hop", "first")])
        elif path == "/bad-utf8":
            self.reply(200, b"a\xffb")
        elif path == "/crlf":
            self.reply(200, b"one\r\ntwo\r\n")
        elif path == "/script":
            self.reply(200, b'Kiv [title: "served"]\r\nprint "served script ran"\r\n')
        elif path == "/data":
            self.reply(200, b"1 two [3 4]", [("Content-Type", "text/plain")])
        elif path == "/json":
            self.reply(200, b'{"a": [1, 2.5], "b": null}', [("Content-Type", "application/json")])
        elif path == "/hits":
            self.reply(200, str(answered).encode(), [("Content-Type", "text/plain")])
        elif path == "/picture":
            self.reply(200, png_2x1(), [("Content-Type", "image/png")])
        elif path == "/picture-untyped":
            self.reply(200, png_2x1())
        elif path.startswith("/big?n="):
            n = int(path[len("/big?n="):])
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            chunk = b"x" * (1 << 20)
            while n > 0:
                piece = chunk[:min(n, len(chunk))]
                self.wfile.write(piece)
                n -= len(piece)
        else:
            self.reply(400, b"unknown path")

    def __getattr__(self, name):
        # do_GET, do_POST, do_PUT, do_HEAD and any other method word.
        if name.startswith("do_"):
            return self.serve
        raise AttributeError(name)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) == 4 and sys.argv[1] == "--tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
