#!/usr/bin/env python3
"""A network printer that only answers its status: it takes what it is sent and answers each DLE EOT n
with the status byte given for n. For tests that need a printer to show a state, not to print.

    fake_printer.py PORT [N=BYTE ...] [--record DIR]    e.g. fake_printer.py 9100 4=1e  (paper near end)

Listens on 127.0.0.1:PORT until killed; answers 0x12 (all well) for an n not given. With --record, the
bytes of each connection go to DIR/connection-N.bin (N from 1, in the order they came).
"""
import selectors
import socket
import sys


def main():
    args = sys.argv[1:]
    record = None
    if "--record" in args:
        at = args.index("--record")
        record = args[at + 1]
        del args[at:at + 2]
    port = int(args[0])
    answers = {n: 0x12 for n in range(1, 5)}
    for item in args[1:]:
        n, value = item.split("=")
        answers[int(n)] = int(value, 16)
    files = {}
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    sel = selectors.DefaultSelector()
    sel.register(listener, selectors.EVENT_READ)
    pending = {}
    while True:
        for key, _ in sel.select():
            if key.fileobj is listener:
                conn, _ = listener.accept()
                pending[conn] = b""
                if record:
                    files[conn] = open(f"{record}/connection-{len(files) + 1}.bin", "wb", buffering=0)
                sel.register(conn, selectors.EVENT_READ)
                continue
            conn = key.fileobj
            data = conn.recv(65536)
            if conn in files and data:
                files[conn].write(data)
            if not data:
                sel.unregister(conn)
                conn.close()
                del pending[conn]
                if conn in files:
                    files[conn].close()
                continue
            buf = pending[conn] + data
            i = 0
            while i + 2 < len(buf):
                if buf[i] == 0x10 and buf[i + 1] == 0x04:
                    try:
                        conn.sendall(bytes([answers.get(buf[i + 2], 0x12)]))
                    except OSError:
                        pass  # the sender has gone: its next read ends the connection
                    i += 3
                else:
                    i += 1
            pending[conn] = buf[i:]


if __name__ == "__main__":
    main()
