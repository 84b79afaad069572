# The image codec tests' oracle, run by /usr/bin/python3 with Debian's PIL.
#
#   pil_oracle.py write DIR   writes fixtures of every variant PIL writes into
#                             DIR, each with its pixels beside it
#   pil_oracle.py read FILE.. writes each file's pixels beside it
#
# The pixels of FILE go to FILE.rgba: width and height as 32-bit little-endian
# words, then R, G, B, A bytes of Image.open(FILE).convert('RGBA'), row by
# row. A file PIL cannot read gets FILE.rgba holding the text "error".
import os
import struct
import sys

from PIL import Image

W, H = 37, 23  # odd sizes, so rows need padding


def pattern_rgba():
    im = Image.new("RGBA", (W, H))
    px = im.load()
    for y in range(H):
        for x in range(W):
            px[x, y] = ((x * 7) % 256, (y * 11) % 256, ((x + y) * 5) % 256, (x * y * 3 + 40) % 256)
    return im


def flat_rgb():
    # Four flat quarters: lossy codecs and colour conversions are compared on these.
    im = Image.new("RGB", (W, H))
    colours = [(200, 30, 60), (20, 180, 90), (250, 250, 240), (40, 40, 160)]
    px = im.load()
    for y in range(H):
        for x in range(W):
            px[x, y] = colours[(x * 2 // W) + 2 * (y * 2 // H)]
    return im


def pixels_of(path):
    try:
        with Image.open(path) as im:
            rgba = im.convert("RGBA")
            data = struct.pack("<II", rgba.width, rgba.height) + rgba.tobytes()
    except Exception:
        data = b"error"
    with open(path + ".rgba", "wb") as f:
        f.write(data)


def write_fixtures(d):
    rgba = pattern_rgba()
    rgb = rgba.convert("RGB")
    grey = rgb.convert("L")
    pal = rgb.quantize(64)
    pal16 = rgb.quantize(16)
    bits1 = grey.point(lambda v: 255 if v > 120 else 0).convert("1")
    flat = flat_rgb()
    grey16 = Image.new("I;16", (W, H))
    grey16.putdata([(v * 257) for v in grey.getdata()])
    saves = [
        (rgb, "rgb.png", {}),
        (rgba, "rgba.png", {}),
        (grey, "grey.png", {}),
        (rgba.convert("LA"), "grey_alpha.png", {}),
        (pal, "palette.png", {}),
        (pal, "palette_trns.png", {"transparency": 5}),
        (pal16, "palette4.png", {"bits": 4}),
        (bits1, "bits1.png", {}),
        (grey, "grey_trns.png", {"transparency": 100}),
        (rgb, "rgb_trns.png", {"transparency": rgb.getpixel((3, 2))}),
        (grey16, "grey16.png", {}),
        (rgb, "rgb.jpg", {}),
        (rgb, "rgb444.jpg", {"subsampling": 0, "quality": 95}),
        (grey, "grey.jpg", {}),
        (flat.convert("CMYK"), "cmyk.jpg", {}),
        (rgb, "progressive.jpg", {"progressive": True}),
        (pal, "interlaced.gif", {}),
        (pal, "plain.gif", {"interlace": False}),
        (pal, "trns.gif", {"transparency": 5}),
        (rgb, "rgb.tif", {}),
        (rgba, "rgba.tif", {}),
        (grey, "grey.tif", {}),
        (pal, "palette.tif", {}),
        (bits1, "bits1.tif", {}),
        (rgb, "lzw.tif", {"compression": "tiff_lzw"}),
        (rgba, "deflate.tif", {"compression": "tiff_adobe_deflate"}),
        (rgba.convert("LA"), "grey_alpha.tif", {}),
        (rgb, "jpeg.tif", {"compression": "jpeg"}),
        (flat.convert("CMYK"), "cmyk.tif", {}),
        (grey16, "grey16.tif", {}),
        (rgb, "rgb.bmp", {}),
        (pal, "palette.bmp", {}),
        (grey, "grey.bmp", {}),
        (bits1, "bits1.bmp", {}),
    ]
    for im, name, options in saves:
        path = os.path.join(d, name)
        im.save(path, **options)
        pixels_of(path)


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write_fixtures(sys.argv[2])
    else:
        for path in sys.argv[2:]:
            pixels_of(path)
