"""Reference vectors for the text utilities, from python3 itself.

Usage: python3 make_vectors.py <out>

One case per line, bytes as upper-case hexadecimal ("-" for no bytes):
    crc <crc32 as 8 hex digits> <bytes>     binascii.crc32 of the bytes
    utf8 <1|0> <bytes>                      1 when the strict decoder accepts them
The UTF-8 cases never contain a NUL byte (the checker stops at the first).
"""
import binascii
import random
import sys

rng = random.Random(20240611)


def hexed(data):
    return data.hex().upper() if data else "-"


def crc_cases():
    lengths = [0, 1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 255, 256, 257,
               1000, 1023, 1024, 4095, 4096, 4999, 5000]
    lengths += [rng.randint(0, 5000) for _ in range(40)]
    for n in lengths:
        yield bytes(rng.randrange(256) for _ in range(n))
    # Printable texts, so that the NUL-terminated form can be checked too.
    for n in [1, 3, 10, 100, 777, 5000]:
        yield bytes(rng.randrange(0x20, 0x7F) for _ in range(n))
    yield b"abc"
    yield b"\x00" * 64
    yield b"\xff" * 300


def encode(code_point):
    return chr(code_point).encode("utf-8", "surrogatepass")


def valid_fragment():
    edges = [0x80, 0x7FF, 0x800, 0xFFF, 0x1000, 0xD7FF, 0xE000, 0xFFFD, 0xFFFF,
             0x10000, 0x3FFFF, 0x40000, 0xFFFFF, 0x100000, 0x10FFFF]
    pick = rng.randrange(5)
    if pick == 0:
        return encode(rng.choice(edges))
    if pick == 1:
        return encode(rng.randint(0x80, 0x7FF))
    if pick == 2:
        cp = rng.randint(0x800, 0xFFFF)
        return encode(cp if not 0xD800 <= cp <= 0xDFFF else 0x4E2D)
    if pick == 3:
        return encode(rng.randint(0x10000, 0x10FFFF))
    return bytes([rng.randint(1, 0x7F)])


def cont():
    return rng.randint(0x80, 0xBF)


def broken_fragment():
    pick = rng.randrange(9)
    if pick == 0:   # overlong forms
        return rng.choice([b"\xC0\x80", b"\xC1\xBF", b"\xE0\x80\x80", b"\xE0\x9F\xBF",
                           b"\xF0\x80\x80\x80", b"\xF0\x8F\xBF\xBF",
                           bytes([rng.choice([0xC0, 0xC1]), cont()])])
    if pick == 1:   # surrogates
        return bytes([0xED, rng.randint(0xA0, 0xBF), cont()])
    if pick == 2:   # above U+10FFFF
        return bytes([0xF4, rng.randint(0x90, 0xBF), cont(), cont()])
    if pick == 3:   # leads that never start a sequence
        return bytes([rng.randint(0xF5, 0xFF)] + [cont() for _ in range(rng.randint(0, 3))])
    if pick == 4:   # truncated sequences
        whole = encode(rng.choice([0x80, 0x800, 0xFFFF, 0x10000, 0x10FFFF,
                                   rng.randint(0x10000, 0x10FFFF)]))
        return whole[:rng.randint(1, len(whole) - 1)]
    if pick == 5:   # stray continuation bytes
        return bytes([cont() for _ in range(rng.randint(1, 3))])
    if pick == 6:   # a lead followed by a non-continuation byte
        return bytes([rng.randint(0xC2, 0xF4), rng.choice([0x41, 0xC3, 0xE2, 0xFF])])
    if pick == 7:   # the valid edges just past
        return rng.choice([b"\xED\x9F\xBF", b"\xEE\x80\x80", b"\xF4\x8F\xBF\xBF",
                           b"\xE0\xA0\x80", b"\xF0\x90\x80\x80"])
    return bytes(rng.randint(1, 255) for _ in range(rng.randint(1, 4)))


def utf8_cases():
    # Every byte alone, every pair after a high lead, and every second byte
    # after the leads of longer sequences (followed by good continuations).
    for b in range(1, 256):
        yield bytes([b])
    for lead in range(0x80, 0x100):
        for second in range(1, 256):
            yield bytes([lead, second])
    for lead in range(0xE0, 0xF5):
        for second in range(1, 256):
            yield bytes([lead, second, 0x80, 0x80])[: 3 if lead < 0xF0 else 4]
    for _ in range(4000):
        parts = []
        for _ in range(rng.randint(1, 6)):
            parts.append(valid_fragment() if rng.random() < 0.75 else broken_fragment())
        yield b"".join(parts)


def accepted(data):
    try:
        data.decode("utf-8", "strict")
        return 1
    except UnicodeDecodeError:
        return 0


def main():
    with open(sys.argv[1], "w", newline="\n") as out:
        for data in crc_cases():
            out.write("crc %08X %s\n" % (binascii.crc32(data) & 0xFFFFFFFF, hexed(data)))
        for data in utf8_cases():
            assert 0 not in data
            out.write("utf8 %d %s\n" % (accepted(data), hexed(data)))


main()
