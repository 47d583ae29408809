#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 for the page; with --result FILE a POST to /result writes its
body to FILE, which is how the page hands its findings to scripts/web.sh and the browser tests."""
import argparse
import functools
import http.server
import os


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript",
                      ".kdr": "application/octet-stream"}
    result = None

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
