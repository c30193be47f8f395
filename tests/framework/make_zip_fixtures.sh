#!/bin/bash
# Builds the zip reader's interop fixtures with Info-ZIP zip: a source tree
# with fixed contents and times, and archives of it in every form the reader
# must accept. Usage: make_zip_fixtures.sh OUTPUT_FOLDER
set -euo pipefail
out="$1"
password="Pass word 1"
stamp="2021-03-04 05:06:08 UTC"

chmod -R u+w "$out" 2>/dev/null || true
rm -rf "$out"
mkdir -p "$out/src/sub" "$out/src/emptydir"
cd "$out/src"

# Contents from a fixed seed, so every build compares the same bytes.
python3 - <<'EOF'
import random
rng = random.Random(20210304)
with open("random.bin", "wb") as f:
    f.write(bytes(rng.getrandbits(8) for _ in range(100000)))
with open("text.txt", "w", newline="") as f:
    for i in range(6000):
        f.write("line %d of the sample text, value %d\r\n" % (i, rng.randrange(1000)))
with open("sub/nested.txt", "w", newline="") as f:
    f.write("nested file\n")
with open("small.txt", "w", newline="") as f:
    for i in range(120):
        f.write("small line %d\n" % rng.randrange(50))
with open("readonly.txt", "w", newline="") as f:
    f.write("read only\n")
open("empty.txt", "w").close()
EOF
find . -exec touch -d "$stamp" {} +
chmod 444 readonly.txt

zip -q -r -0 ../stored.zip .
zip -q -r ../deflated.zip .
# The one-byte password check lets a wrong password through 1 time in 256,
# and zip draws new encryption headers every run. The tests try the wrong
# passwords below on text.txt, so remake an archive until all are refused.
make_encrypted() {   # archive, zip options...
    local archive=$1 try wrong
    shift
    for try in $(seq 50); do
        rm -f "$archive"
        zip -q -r "$@" -P "$password" "$archive" .
        local lucky=0
        for wrong in "" "pass word 1" "Pass word 2" "x"; do
            case "$(unzip -t -P "$wrong" "$archive" text.txt 2>&1 || true)" in
                *"testing: text.txt"*) lucky=1 ;;
            esac
        done
        [ "$lucky" = 0 ] && return 0
    done
    echo "could not make $archive that refuses every wrong password" >&2
    return 1
}
make_encrypted ../stored_pw.zip -0
make_encrypted ../deflated_pw.zip
zip -q -r -X ../notimes.zip .
# Written to a pipe, zip cannot seek back: every entry has a data descriptor.
zip -q -r - . | cat > ../streamed.zip
# A 2000-byte comment puts the end record in the second search window.
python3 -c 'print("c" * 1999)' | zip -q -r -z ../comment.zip .
# Small archives for the fuzz run: one plain, one encrypted.
zip -q ../small.zip small.txt sub/nested.txt readonly.txt empty.txt
zip -q -P "$password" ../small_pw.zip small.txt sub/nested.txt empty.txt
cd ..
# A stub in front, as a self-extracting archive has; the offsets stay unadjusted.
python3 -c 'import sys; sys.stdout.buffer.write(b"MZ" + b"\x00" * 4998)' > sfx.zip
cat deflated.zip >> sfx.zip
touch .complete
