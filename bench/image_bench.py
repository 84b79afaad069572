# The PIL twin of bench/image_bench.cpp, run by /usr/bin/python3 with Debian's
# PIL: times, inside this process, Image.open(...).load() of the PNG and
# JPEG files given and save() of the raw picture with PIL's defaults, best of
# the runs. Prints one "name milliseconds" line per measure and one
# "name-bytes size" line per encoding; JPEG is saved at quality 90 too, for
# comparison.
#
#   image_bench.py RAW WIDTH HEIGHT PNG JPEG RUNS
import io
import sys
import time

from PIL import Image

raw, width, height, png, jpeg, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5], int(sys.argv[6])
with open(raw, "rb") as f:
    rgba = Image.frombytes("RGBA", (width, height), f.read())
rgb = rgba.convert("RGB")  # JPEG holds no alpha


def best(action):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        action()
        times.append(time.perf_counter() - t)
    return min(times) * 1000


def decode(path):
    def run():
        with Image.open(path) as im:
            im.load()
    return run


def encode(image, fmt, **options):
    def run():
        out = io.BytesIO()
        image.save(out, fmt, **options)
        encode.size = out.tell()
    return run


print("pil-png-decode", best(decode(png)))
print("pil-png-encode", best(encode(rgba, "PNG")))
print("pil-png-bytes", encode.size)
print("pil-jpeg-decode", best(decode(jpeg)))
print("pil-jpeg-encode", best(encode(rgb, "JPEG")))
print("pil-jpeg-bytes", encode.size)
# At the quality Kiv writes, for comparison.
print("pil-jpeg90-encode", best(encode(rgb, "JPEG", quality=90)))
print("pil-jpeg90-bytes", encode.size)
