#!/usr/bin/env python3
"""Makes the quick-formatted card image of the carving benchmark (never committed).

Real encoders make the files (ffmpeg's JPEG, PNG and H.264 encoders and MP4 muxer, sox, Ghostscript,
pandoc, zip), every one different; mtools copies them onto a fresh FAT32 volume (4 KiB clusters);
the truth (path, size, SHA-256, whether the file's clusters are one run) is read from the volume
before mkfs.fat formats it again over the same image.

    bench/make-carving-card.py WORKDIR SIZE_MIB      -> WORKDIR/card.img, WORKDIR/card.truth.json
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


def truth_of(image: str, folder_in_volume: str, names: list[str]) -> list[dict]:
    files = []
    with fatfs.ImageFile(image) as handle:
        volume = fatfs.Fat32Volume(handle)
        for name in names:
            entry = volume.find(f"{folder_in_volume}/{name}")
            needed = -(-entry.size // volume.cluster_size)
            clusters = volume.chain(entry.start_cluster)[:needed]
            data = volume.read_clusters(clusters, entry.size)
            files.append({"path": f"{folder_in_volume}/{name}", "size": entry.size,
                          "sha256": hashlib.sha256(data).hexdigest(),
                          "contiguous": clusters == list(range(clusters[0], clusters[0] + needed))})
    return files


def main() -> int:
    work, size_mib = sys.argv[1], int(sys.argv[2])
    content = os.path.join(work, "content")
    image = os.path.join(work, "card.img")
    make_content(content, size_mib)
    if os.path.exists(image):
        os.remove(image)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    run("mkfs.fat", "-F", "32", "-s", "8", "-n", "BENCHCARD", "-C", image, str(size_mib * 1024))
    run("mmd", "-i", image, "::/DCIM", env=env)
    names = sorted(os.listdir(content))
    run("mcopy", "-i", image, *[os.path.join(content, n) for n in names], "::/DCIM/", env=env)
    truth = truth_of(image, "/DCIM", names)
    run("mkfs.fat", "-F", "32", "-s", "8", "-n", "BENCHCARD", image)  # the quick format
    with open(os.path.join(work, "card.truth.json"), "w") as handle:
        json.dump({"files": truth}, handle, indent=1)
    print(f"{len(truth)} files, {sum(f['size'] for f in truth) >> 20} MiB, "
          f"{sum(f['contiguous'] for f in truth)} contiguous")
    return 0


if __name__ == "__main__":
    sys.exit(main())
