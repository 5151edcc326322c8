#!/usr/bin/env bash
# Times `tavrix-update-cli inspect` against binutils objcopy and srec_cat on the same generated
# 1 MiB Intel HEX image, in one run, and prints the ratios (below 1.0: we are faster). It also
# times inspect on a word HEX image filling the C28xx table and a segment image filling table B,
# which the other tools do not read. Each command runs REPEAT times (default 15); the median
# counts. The digest inspect prints is checked against objcopy's binary output.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
[ -f "$build/build.ninja" ] || cmake --preset default >/dev/null
cmake --build "$build" --target tavrix-update-cli >/dev/null
command -v objcopy >/dev/null || { echo "objcopy is missing (binutils)"; exit 1; }
command -v srec_cat >/dev/null || { echo "srec_cat is missing (srecord)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

CLI="$build/bin/tavrix-update-cli" WORK="$work" REPEAT="${REPEAT:-15}" python3 - <<'PY'
import hashlib, os, random, statistics, struct, subprocess, time

work, cli, repeat = os.environ["WORK"], os.environ["CLI"], int(os.environ["REPEAT"])
rng = random.Random(12345)

def record(kind, address, data):
    raw = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + data
    return ":" + (raw + bytes([-sum(raw) & 0xFF])).hex().upper() + "\n"

def hex_file(path, data, base, per_address):
    """16 data bytes a record; per_address: bytes per address step (1 bytes, 2 words)."""
    lines, upper = [], None
    for offset in range(0, len(data), 16):
        address = base + offset // per_address
        if address >> 16 != upper:
            upper = address >> 16
            lines.append(record(4, 0, struct.pack(">H", upper)))
        lines.append(record(0, address & 0xFFFF, data[offset:offset + 16]))
    lines.append(":00000001FF\n")
    with open(path, "w") as f:
        f.write("".join(lines))

image = rng.randbytes(0x100000)
hex_path = os.path.join(work, "image.hex")
hex_file(hex_path, image, 0, 1)
words = rng.randbytes(0x40000 * 2)  # 0x300000..0x33FFFF, the whole C28xx table
hex16_path = os.path.join(work, "image16.hex")
hex_file(hex16_path, words, 0x300000, 2)
segments = rng.randbytes(0x70000)  # 0x00000..0x6FFFF, the whole of table B
seg_path = os.path.join(work, "image.seg")
with open(seg_path, "wb") as f:
    for offset in range(0, len(segments), 1024):
        f.write(struct.pack("<II", offset, 1024) + segments[offset:offset + 1024])

bin_objcopy = os.path.join(work, "objcopy.bin")
bin_srec = os.path.join(work, "srec.bin")
commands = {
    "tavrix inspect --as hex": [cli, "inspect", hex_path, "--as", "hex"],
    "objcopy -I ihex -O binary": ["objcopy", "-I", "ihex", "-O", "binary", hex_path, bin_objcopy],
    "srec_cat -intel -o -binary": ["srec_cat", hex_path, "-intel", "-o", bin_srec, "-binary"],
    "tavrix inspect --as hex16": [cli, "inspect", hex16_path, "--as", "hex16"],
    "tavrix inspect --as segments --regions B": [cli, "inspect", seg_path, "--as", "segments", "--regions", "B"],
}

def run(argv):
    return subprocess.run(argv, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout

times = {name: [] for name in commands}
for name, argv in commands.items():  # once to warm the caches
    run(argv)
for _ in range(repeat):  # interleaved, so that load on the machine hits every tool alike
    for name, argv in commands.items():
        start = time.perf_counter()
        run(argv)
        times[name].append(time.perf_counter() - start)

digest = run(commands["tavrix inspect --as hex"]).decode().split("sha256 ")[1].strip()
with open(bin_objcopy, "rb") as f:
    objcopy_digest = hashlib.sha256(f.read()).hexdigest()
with open(bin_srec, "rb") as f:
    srec_digest = hashlib.sha256(f.read()).hexdigest()
if not (digest == objcopy_digest == srec_digest == hashlib.sha256(image).hexdigest()):
    raise SystemExit("the tools disagree about the image")

median = {name: statistics.median(values) * 1000 for name, values in times.items()}
print(f"image.hex: {os.path.getsize(hex_path)} bytes of text, {len(image)} bytes of data; "
      f"image16.hex: {len(words) // 2} words; image.seg: {len(segments)} bytes; {repeat} runs each")
for name, value in median.items():
    print(f"  {name:42s} {value:8.2f} ms (median)")
ours = median["tavrix inspect --as hex"]
print(f"ratio tavrix/objcopy  {ours / median['objcopy -I ihex -O binary']:.2f}")
print(f"ratio tavrix/srec_cat {ours / median['srec_cat -intel -o -binary']:.2f}")
print("digests agree: inspect's sha256 is that of objcopy's and srec_cat's binary output")
PY
