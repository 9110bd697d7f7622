#!/usr/bin/env python3
"""Writes the hand-made seeds of the fuzz targets into corpus/.

Each seed is a script that reaches somewhere deep (a whole image transfer,
a NAKed block, a request past 4 GiB) which random inputs would take long to
find. libFuzzer grows the corpus from here; scripts/fuzz.sh keeps its own
copy outside the tree. Run again after changing an input format.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
STX, ETX = 0x02, 0x03
ACK, NAK, CAN, C = 0x06, 0x15, 0x18, 0x43


def rec(data, delay=0):
    data = bytes(data)
    assert len(data) < 256
    return bytes([delay, len(data)]) + data


def frame(code, params=b""):
    return bytes([STX, code]) + bytes(params) + bytes([ETX])


def data_req(offset, length):
    return frame(0x02, struct.pack("<HI", length, offset))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def session_flags(image, quiet=0, lose=False, paced=False, file=0):
    return bytes([(1 if image else 0) | quiet << 1 | (8 if lose else 0) | (16 if paced else 0) | file << 5])


def image_transfer(blocks, block_reply=lambda n: [rec([ACK])], eot=(rec([ACK, C]),), close=(rec([ACK]),)):
    """The box's side of a whole image download, one record per answer."""
    out = [rec(frame(0xAA)), rec(frame(0xB0)), rec([C]), rec([ACK, C])]
    for n in range(1, blocks + 1):
        out += block_reply(n)
    out += list(eot) + list(close)
    return b"".join(out)


def main():
    # --- session, served mode -------------------------------------------
    served = [rec(frame(0x01)), rec(data_req(0, 1024)), rec(frame(0x03)),
              rec(data_req(69000, 5000)), rec(b"boot> hello\r\n" + data_req(100, 7) + b"\xff"),
              rec(frame(0x07)), rec(frame(0xAA)), rec(data_req(5, 0)), rec(bytes([STX, 0x02, 0x10]))]
    write("session", "served-requests", session_flags(False, file=5) + b"".join(served))
    write("session", "served-paced", session_flags(False, paced=True, file=5) +
          rec(data_req(0, 65535)) + rec(data_req(60000, 65535)) + rec(frame(0x03)))
    write("session", "served-past-4gib", session_flags(False, quiet=1, file=7) +
          rec(data_req((1 << 31) - 10, 100)) + rec(data_req(0xFFFFFFFF, 300)) +
          rec(data_req(0xFFFEFF00, 65535)) + rec(data_req(0xFFFFFF00, 1000)))
    write("session", "served-cut-frames", session_flags(False, file=3) +
          rec(bytes([STX])) + rec(bytes([0x02, 0, 1, 0])) + rec(bytes([0, 0, 0, ETX])) +
          rec(data_req(0, 300)[:-1] + b"\x00") + rec(frame(0x01)))
    lost = session_flags(False, lose=True, file=5) + struct.pack("<HB", 40, 0)
    write("session", "served-lost", lost + rec(frame(0x01)) + rec(data_req(0, 2000), delay=10) +
          rec(data_req(0, 2000), delay=100))
    write("session", "served-lost-awhile", session_flags(False, lose=True, file=5) +
          struct.pack("<HB", 5, 3) + rec(data_req(0, 30)) + rec(frame(0x03), delay=150))

    # --- session, image mode ---------------------------------------------
    write("session", "image-sent", session_flags(True, file=3) + image_transfer(3))
    write("session", "image-sent-paced", session_flags(True, paced=True, file=5) + image_transfer(5))
    naks = lambda n: [rec([NAK]), rec([NAK]), rec([ACK])] if n == 2 else [rec([ACK])]
    # Block 2 acknowledged twice (a noisy return line), block 3 refused once.
    dup = lambda n: {2: [rec([ACK, ACK])], 3: [rec([NAK]), rec([ACK])]}.get(n, [rec([ACK])])
    write("session", "image-naks", session_flags(True, file=3) +
          image_transfer(3, naks, eot=(rec([NAK]), rec([ACK, C]))))
    write("session", "image-refused-at-eot", session_flags(True, file=2) +
          image_transfer(2, eot=(rec([CAN, CAN]),), close=()))
    write("session", "image-refused-at-close", session_flags(True, file=2) +
          image_transfer(2, close=(rec([CAN, CAN]),)))
    silent = lambda n: [] if n == 2 else [rec([ACK])]
    write("session", "image-silent", session_flags(True, quiet=3, file=3) +
          b"".join([rec(frame(0xAA)), rec(frame(0xB0)), rec([C]), rec([ACK, C]), rec([ACK])]))
    write("session", "image-lost", session_flags(True, lose=True, file=5) + struct.pack("<HB", 6, 0) +
          image_transfer(5))
    write("session", "image-bad-file", session_flags(True, file=7) + rec(frame(0xB0)))
    write("session", "image-again", session_flags(True, quiet=2, file=1) +
          b"".join([rec(frame(0xB0)), rec([C]), rec([ACK, C]), rec([CAN])]) + image_transfer(1))
    del silent
    write("session", "image-duplicate-ack", session_flags(True, file=5) + image_transfer(5, dup))
    write("session", "image-restart-at-c", session_flags(True, quiet=1, file=3) +
          b"".join([rec(frame(0xAA)), rec(frame(0xB0)), rec(frame(0xAA))]) + image_transfer(3)[len(rec(frame(0xAA))):])

    # --- YMODEM sender ---------------------------------------------------
    def ym(flags, blocks, reply=lambda n: [rec([ACK])], tail=(rec([ACK, C]), rec([ACK]))):
        out = [rec([C]), rec([ACK, C])]
        for n in range(1, blocks + 1):
            out += reply(n)
        return bytes([flags]) + b"".join(out + list(tail))

    write("ymodem", "sent-2", ym(1, 2))
    write("ymodem", "sent-300-paced", ym(3 | 16, 300))
    write("ymodem", "naks-then-ack", ym(2, 5, lambda n: [rec([NAK])] * (n % 3) + [rec([ACK])]))
    write("ymodem", "five-naks", ym(1, 2, lambda n: [rec([NAK])] * 5))
    write("ymodem", "can-at-eot", ym(0, 1, tail=(rec([CAN]),)))
    write("ymodem", "eot-unanswered", ym(0 | 3 << 2, 1, tail=(rec([C], delay=210), rec([ACK]))))
    write("ymodem", "garbage-replies", ym(2, 5, lambda n: [rec(b"xyz\x06")]))
    write("ymodem", "stop-mid-transfer", ym(2 | 1 << 2, 5, lambda n: [rec([ACK])] if n < 3 else []))
    # Stray bytes on the line before a send: a second ACK from a noisy
    # return line, the time-out NAKs of a paused host, a 'C' or CAN.
    write("ymodem", "duplicate-ack-then-nak", ym(2, 5, dup))
    write("ymodem", "paused-host-naks", ym(2, 5, lambda n: [rec([ACK, NAK, NAK, NAK])],
                                           tail=(rec([ACK, NAK, C]), rec([ACK]))))
    write("ymodem", "stray-before-every-send", bytes([1]) + rec([C, CAN]) + rec([ACK, C, ACK]) +
          rec([ACK, CAN]) + rec([NAK]) + rec([ACK, C]) + rec([NAK, ACK]) + rec([ACK, C, CAN]) + rec([ACK]))
    write("ymodem", "header-retries", bytes([0]) + rec(b"q" * 30) + rec([C]) + rec([NAK]) + rec([C]) +
          rec([ACK, 0x00]) + rec([C], delay=250))

    # --- image loader ----------------------------------------------------
    def image(payload, key=0x5A, magic=b"VELTOWDL"):
        return bytes([key]) + bytes(m ^ key for m in magic) + b"\x01\x02" + b"\xde\x01\xbe\x7f" + payload

    write("image_file", "empty", b"\x00")
    write("image_file", "header-only", b"\x00" + image(b""))
    write("image_file", "one-byte", b"\x03" + image(b"\x42"))
    write("image_file", "one-block", b"\x00" + image(bytes(range(256)) * 4))
    write("image_file", "block-and-one", b"\x10" + image(bytes(1025)))
    write("image_file", "bad-magic", b"\x00" + image(b"abc", magic=b"VELTOWDM"))
    write("image_file", "short", b"\x00" + image(b"")[:9])


if __name__ == "__main__":
    main()
