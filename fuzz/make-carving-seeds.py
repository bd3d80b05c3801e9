#!/usr/bin/env python3
"""Writes the seed corpus of the carving harness from the real carving samples.

Each seed is an area as a card leaves it: a few samples at 4 KiB cluster starts,
and layouts where one sample lies in two pieces around whole other samples (the
camera case the pass completes), or with a cluster of its data lost.

    fuzz/make-carving-seeds.py        rewrites fuzz/corpus/carving/
"""
import gzip
import pathlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
SAMPLES = ROOT / "tests" / "fixtures" / "carving" / "samples"
OUT = ROOT / "fuzz" / "corpus" / "carving"
CLUSTER = 4096


def sample(name: str) -> bytes:
    return gzip.decompress((SAMPLES / (name + ".gz")).read_bytes())


def lay_out(parts: list[bytes]) -> bytes:
    area = bytearray()
    for part in parts:
        area += bytes(-len(area) % CLUSTER)
        area += part
    return bytes(area + bytes(-len(area) % CLUSTER))


def two_pieces(name: str, clusters: int, gap: list[str], lost: int = 0) -> bytes:
    data = sample(name)
    cut = clusters * CLUSTER
    return lay_out([data[:cut]] + [sample(g) for g in gap] + [data[cut + lost * CLUSTER:]])


def in_pieces(name: str, cuts: list[int], gaps: list[bytes]) -> bytes:
    """The sample cut at the given cluster counts, each cut followed by a gap of bytes no format
    has (the search across any gap follows such a file)."""
    data = sample(name)
    parts, at = [], 0
    for cut, gap in zip(cuts, gaps):
        parts += [data[at:cut * CLUSTER], gap]
        at = cut * CLUSTER
    return lay_out(parts + [data[at:]])


def noise(length: int, seed: int) -> bytes:
    state, out = seed, bytearray()
    while len(out) < length:
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        out += state.to_bytes(8, "little")
    return bytes(out[:length])


SEEDS = {
    "row": lambda: lay_out([sample(n) for n in ("progressive.jpg", "image.webp", "document.pdf", "anim.gif",
                                                "archive.zip", "image.heic")]),
    "jpeg-around-png": lambda: two_pieces("photo-exif.jpg", 2, ["image.png"]),
    "restart-jpeg-around-gif": lambda: two_pieces("restart.jpg", 1, ["anim.gif", "image.webp"]),
    "jpeg-cluster-lost": lambda: two_pieces("beach.jpg", 1, ["report.pdf"], lost=1),
    "png-around-jpeg": lambda: two_pieces("drawing.png", 3, ["progressive.jpg"]),
    "docx-around-bmp": lambda: two_pieces("document.docx", 1, ["image.bmp"]),
    "mp4-around-files": lambda: two_pieces("movie.mp4", 2, ["anim.gif", "image.avif"]),
    "wav-and-avi": lambda: lay_out([sample("tone.wav"), sample("clip.avi")]),
    "tiff-raw": lambda: lay_out([sample("camera.dng")]),
    "docx-three-pieces": lambda: in_pieces("report.docx", [1, 2], [noise(CLUSTER, 1), bytes(CLUSTER)]),
    "movie-three-pieces": lambda: in_pieces("camera.mp4", [3, 6], [noise(CLUSTER, 2), bytes(2 * CLUSTER)]),
    "streaming-movie-two-pieces": lambda: in_pieces("streaming.mp4", [4], [noise(2 * CLUSTER, 3)]),
    "jar-two-pieces": lambda: in_pieces("streamed.jar", [2], [noise(CLUSTER, 4)]),
}


def main() -> None:
    OUT.mkdir(parents=True, exist_ok=True)
    for old in OUT.iterdir():
        old.unlink()
    for name, make in SEEDS.items():
        (OUT / name).write_bytes(make())


if __name__ == "__main__":
    main()
