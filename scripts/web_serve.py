#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 for the page; with --result FILE a POST to /result writes its
body to FILE, which is how the page hands its findings to scripts/web.sh and the browser tests.
A browser that takes gzip gets FILE.gz where the build made one, else FILE compressed here."""
import argparse
import functools
import gzip
import http.server
import io
import os


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript",
                      ".kdr": "application/octet-stream"}
    result = None
    compressed = {}  # path -> (mtime, bytes), for files without a .gz beside them

    def send_head(self):
        path = self.translate_path(self.path)
        if (os.path.isdir(path) or not os.path.isfile(path)
                or "gzip" not in self.headers.get("Accept-Encoding", "")):
            return super().send_head()
        mtime = os.path.getmtime(path)
        ready = path + ".gz"
        if os.path.isfile(ready) and os.path.getmtime(ready) >= mtime:
            with open(ready, "rb") as f:
                body = f.read()
        else:
            cached = self.compressed.get(path)
            if not cached or cached[0] != mtime:
                with open(path, "rb") as f:
                    cached = (mtime, gzip.compress(f.read(), 6, mtime=0))
                self.compressed[path] = cached
            body = cached[1]
        self.send_response(200)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Encoding", "gzip")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Vary", "Accept-Encoding")
        self.send_header("Last-Modified", self.date_time_string(int(mtime)))
        self.end_headers()
        return io.BytesIO(body)

    def do_POST(self):
        if self.path != "/result" or not self.result:
            self.send_error(404)
            return
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        part = self.result + ".part"
        with open(part, "wb") as out:
            out.write(body)
        os.replace(part, self.result)
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("port", type=int)
    parser.add_argument("--result")
    args = parser.parse_args()
    Handler.result = args.result
    handler = functools.partial(Handler, directory=args.folder)
    with http.server.ThreadingHTTPServer(("127.0.0.1", args.port), handler) as server:
        server.serve_forever()


if __name__ == "__main__":
    main()
