#!/usr/bin/env python3
"""Makes the quick-formatted card image of the carving benchmark (never committed).

Real encoders make the files (ffmpeg's JPEG, PNG and H.264 encoders and MP4 muxer, sox, Ghostscript,
pandoc, zip), every one different; mtools copies them onto a fresh FAT32 volume (4 KiB clusters;
512-byte ones on cards under 300 MiB, too small for FAT32 with 4 KiB clusters); the truth (path, size,
SHA-256, whether the file's clusters are one run) is read from the volume before mkfs.fat formats it
again over the same image.

With FRAGMENTED > 0, that many photos are written the way a camera fragments them: a small photo is
written, then the next files, then the small one is deleted and the photo written into its hole,
running on past those files into the free clusters behind them. Their truth has "contiguous" false
and "pieces": two [absolute offset in the image, length in file bytes] pairs.

    bench/make-carving-card.py WORKDIR SIZE_MIB [FRAGMENTED]   -> WORKDIR/card.img, WORKDIR/card.truth.json
"""

import hashlib
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "fixtures"))
import fatfs  # noqa: E402


def run(*cmd: str, **kwargs) -> None:
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)


def make_content(folder: str, size_mib: int) -> None:
    """About three quarters of the card: photos, videos, sound, pictures and documents."""
    scale = size_mib / 1280
    os.makedirs(folder, exist_ok=True)
    noise = "noise=alls=25:allf=t+u"
    run("ffmpeg", "-f", "lavfi", "-i", f"testsrc2=size=2048x1536:rate=1,{noise}", "-frames:v", str(int(300 * scale)),
        "-q:v", "3", os.path.join(folder, "IMG_%04d.JPG"))
    run("ffmpeg", "-f", "lavfi", "-i", f"testsrc2=size=800x600:rate=1,{noise}", "-frames:v", str(int(40 * scale)),
        os.path.join(folder, "PIC_%04d.PNG"))
    for n in range(int(24 * scale)):
        run("ffmpeg", "-f", "lavfi", "-i", f"testsrc2=size=640x480:rate=30,{noise}", "-f", "lavfi", "-i",
            f"sine=frequency={300 + 20 * n}", "-t", str(10 + n % 7), "-c:v", "libx264", "-preset", "ultrafast",
            "-b:v", "5M", "-c:a", "aac", "-shortest", os.path.join(folder, f"MOV_{n:04d}.MP4"))
    for n in range(int(16 * scale)):
        run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", os.path.join(folder, f"REC_{n:04d}.WAV"),
            "synth", str(20 + n), "sine", str(200 + 30 * n))
    for n in range(int(20 * scale) + 1):
        run("gs", "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite", "-o", os.path.join(folder, f"DOC_{n:04d}.PDF"),
            "-c", f"/Helvetica findfont 24 scalefont setfont 72 720 moveto (Document {n}) show showpage")
        text = os.path.join(folder, "note.md")
        with open(text, "w") as handle:
            handle.write(f"# Note {n}\n\n" + "Kestrel bench paragraph. " * (50 + n) + "\n")
        run("pandoc", text, "-o", os.path.join(folder, f"NOTE_{n:04d}.DOCX"))
        os.remove(text)


def make_holes(folder: str, count: int) -> list[str]:
    """Small photos, each different, to be deleted so that a larger one fills their clusters."""
    os.makedirs(folder, exist_ok=True)
    if count:
        run("ffmpeg", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=1,noise=alls=25:allf=t+u", "-frames:v",
            str(count), "-q:v", "3", os.path.join(folder, "HOLE_%04d.JPG"))
    return sorted(os.listdir(folder))


def truth_of(image: str, folder_in_volume: str, names: list[str]) -> list[dict]:
    files = []
    with fatfs.ImageFile(image) as handle:
        volume = fatfs.Fat32Volume(handle)
        for name in names:
            entry = volume.find(f"{folder_in_volume}/{name}")
            needed = -(-entry.size // volume.cluster_size)
            clusters = volume.chain(entry.start_cluster)[:needed]
            data = volume.read_clusters(clusters, entry.size)
            contiguous = clusters == list(range(clusters[0], clusters[0] + needed))
            files.append({"path": f"{folder_in_volume}/{name}", "size": entry.size,
                          "sha256": hashlib.sha256(data).hexdigest(), "contiguous": contiguous})
            if not contiguous:
                files[-1]["pieces"] = pieces_of(volume, clusters, entry.size)
    return files


def pieces_of(volume, clusters: list[int], size: int) -> list[list[int]]:
    """[offset, length] of each run of clusters; the fragmented history makes exactly two."""
    runs = [[clusters[0], 1]]
    for cluster in clusters[1:]:
        if cluster == runs[-1][0] + runs[-1][1]:
            runs[-1][1] += 1
        else:
            runs.append([cluster, 1])
    if len(runs) != 2:
        raise RuntimeError(f"a fragmented file in {len(runs)} runs instead of two")
    first = runs[0][1] * volume.cluster_size
    offset = lambda cluster: volume.data_offset + (cluster - 2) * volume.cluster_size  # noqa: E731
    return [[offset(runs[0][0]), first], [offset(runs[1][0]), size - first]]


def copy_with_history(image: str, content: str, holes: str, names: list[str], env: dict) -> None:
    """Copies the files in name order, except that each photo chosen to be fragmented is replaced
    by a hole photo; two files later the hole is deleted and the photo written into it."""
    photos = [n for n in names if n.startswith("IMG_")]
    hole_names = sorted(os.listdir(holes))
    step = len(photos) // (len(hole_names) + 1)
    if step < 3:
        raise SystemExit(f"at most {len(photos) // 3 - 1} fragmented photos on a card of this size")
    targets = dict(zip(photos[step::step], hole_names))
    batch: list[str] = []
    pending: list[list] = []  # [photo, files still to write before it]

    def flush() -> None:
        if batch:
            run("mcopy", "-i", image, *batch, "::/DCIM/", env=env)
            batch.clear()

    def write_into_hole(photo: str) -> None:
        flush()
        run("mdel", "-i", image, f"::/DCIM/{targets[photo]}", env=env)
        forget_next_free(image)
        run("mcopy", "-i", image, os.path.join(content, photo), "::/DCIM/", env=env)

    for name in names:
        if name in targets:
            batch.append(os.path.join(holes, targets[name]))
            pending.append([name, 2])
            continue
        batch.append(os.path.join(content, name))
        for entry in pending:
            entry[1] -= 1
        while pending and pending[0][1] == 0:
            write_into_hole(pending.pop(0)[0])
    for photo, _ in pending:
        write_into_hole(photo)
    flush()


def forget_next_free(image: str) -> None:
    """FSInfo's next-free hint to unknown: mtools then takes the first free cluster, the hole."""
    with fatfs.ImageFile(image, writable=True) as handle:
        fatfs.Fat32Volume(handle).forget_next_free()


def main() -> int:
    work, size_mib = sys.argv[1], int(sys.argv[2])
    fragmented = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    content = os.path.join(work, "content")
    holes = os.path.join(work, "holes")
    image = os.path.join(work, "card.img")
    make_content(content, size_mib)
    if os.path.isdir(holes):
        subprocess.run(["rm", "-rf", holes], check=True)
    make_holes(holes, fragmented)
    if os.path.exists(image):
        os.remove(image)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    sectors = "8" if size_mib >= 300 else "1"
    run("mkfs.fat", "-F", "32", "-s", sectors, "-n", "BENCHCARD", "-C", image, str(size_mib * 1024))
    run("mmd", "-i", image, "::/DCIM", env=env)
    names = sorted(os.listdir(content))
    if fragmented:
        copy_with_history(image, content, holes, names, env)
    else:
        run("mcopy", "-i", image, *[os.path.join(content, n) for n in names], "::/DCIM/", env=env)
    truth = truth_of(image, "/DCIM", names)
    run("mkfs.fat", "-F", "32", "-s", sectors, "-n", "BENCHCARD", image)  # the quick format
    with open(os.path.join(work, "card.truth.json"), "w") as handle:
        json.dump({"files": truth}, handle, indent=1)
    print(f"{len(truth)} files, {sum(f['size'] for f in truth) >> 20} MiB, "
          f"{sum(f['contiguous'] for f in truth)} contiguous, {sum('pieces' in f for f in truth)} in two pieces")
    return 0


if __name__ == "__main__":
    sys.exit(main())
