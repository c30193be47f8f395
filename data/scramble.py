#!/usr/bin/env python3
"""Scrambles (or restores: the operation is its own inverse) a cloud JPEG.

Byte i of an n-byte file is XORed with the low byte of i * i * (n - i).

usage: scramble.py IN OUT
"""
import sys


def scramble(data):
    n = len(data)
    return bytes(b ^ ((i * i * (n - i)) & 0xFF) for i, b in enumerate(data))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    with open(sys.argv[2], "wb") as f:
        f.write(scramble(data))


if __name__ == "__main__":
    main()
