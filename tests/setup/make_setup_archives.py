# Writes the files that the setup engine test packs into its resource
# archives (the build zips them with Info-ZIP's zip).
import os
import struct
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


lines = "".join("Line %04d of the payload, compressible text.\r\n" % i for i in range(600))
write("Payload.txt", lines.encode("ascii"))
write("Stored.bin", bytes(range(256)))
write("Plain.qis", b"PhaseBegin 0\r\nSet #X#, 1\r\nPhaseEnd\r\n")
write("Other.txt", b"not the name asked for\r\n")
write("BadPass.txt", b"packed with another password\r\n")
write("mixedcase.txt", b"found whatever the case\r\n")
# Patch records {u32 offset, u32 length, bytes}; the second one runs past
# the end of a ten-byte file.
write("Patch.pat", struct.pack("<II", 0, 2) + b"AB" + struct.pack("<II", 8, 3) + b"xyz")
