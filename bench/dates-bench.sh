#!/usr/bin/env bash
# The dates of deleted files (--timestamps) beside The Sleuth Kit's reading of the same entries, on
# the dates fixtures (tests/fixtures/dates, made by scripts/fixtures/make-dates-fixtures.py).
#
# Usage: bench/dates-bench.sh [--tool PATH]
#   --tool PATH   the built kestrel-recovery-cli (default: build/release/cli/kestrel-recovery-cli)
#
# For each deleted file of each fixture and each of modified, created and accessed, it counts:
# - truth: this tool's text equals the fixture script's ground truth;
# - utc: the moment its text stands for (less its UTC offset, if any) equals the truth's
#   "mtime_utc" / "crtime_utc" / "atime_utc" (for FAT, the local reading taken as UTC);
# - fls: the moment this tool gives equals the one in The Sleuth Kit's body line (fls -m / -r,
#   columns atime, mtime and crtime), both in seconds since 1970.
# fls runs with TZ=UTC, so it reads a FAT date, which has no zone, as if it were UTC, and so does
# the comparison. For exFAT, fls (4.11) reads the entry's local time and leaves out both the UTC
# offset and the 10 ms count, so its value is compared with this tool's time minus its offset,
# cut to the 2 s the rest of the field holds. A line per mismatch follows the table.
#
# The carved files of carved-dates (made by scripts/fixtures/make-carved-dates-fixture.py) are
# scanned with --carve --timestamps and their "modified" and "created" compared with the truth and
# with exiftool's reading of the same bytes, cut out of the card at the truth's offset and size:
# EXIF DateTimeOriginal with OffsetTimeOriginal (else IFD0 ModifyDate), QuickTime CreateDate (read
# as UTC; a zero time exiftool shows as 1904-01-01 counts as none), PDF ModifyDate / CreateDate, the
# XML ModifyDate / CreateDate of an OOXML package and XMP-dc Date / XMP-meta Creation-date of an
# OpenDocument one. "Z" and "+00:00" count as the same zone.
#
# Then the NTFS fixtures (tests/fixtures/ntfs): each deleted file's dates to the second beside fls's
# body lines.
#
# Needs python3, fls (sleuthkit), exiftool (libimage-exiftool-perl, with libarchive-zip-perl for
# OOXML and OpenDocument files).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
tool="$repo/build/release/cli/kestrel-recovery-cli"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --tool) tool=$2; shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
command -v fls >/dev/null || { echo "missing tool: fls (sleuthkit)" >&2; exit 1; }
command -v exiftool >/dev/null || { echo "missing tool: exiftool" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for gz in "$repo"/tests/fixtures/dates/*.img.gz; do
  name=$(basename "$gz" .img.gz)
  gunzip -c "$gz" >"$work/$name.img"
  [[ $name == carved-* ]] && continue
  TZ=UTC fls -m / -r "$work/$name.img" >"$work/$name.body"
  "$tool" scan --image "$work/$name.img" --timestamps >"$work/$name.json"
done

status=0
python3 - "$work" "$repo/tests/fixtures/dates" <<'PY' || status=1
import calendar, json, pathlib, re, sys

work, truth_dir = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
ISO = re.compile(r"^(\d{4})-(\d\d)-(\d\d)(?:T(\d\d):(\d\d):(\d\d)(?:\.(\d+))?([+-]\d\d:\d\d)?)?$")

def reading(text):
    """Seconds since 1970 of the calendar reading (as if UTC), and the offset in seconds."""
    m = ISO.match(text)
    y, mo, d, h, mi, s = (int(v or 0) for v in m.groups()[:6])
    offset = 0
    if m.group(8):
        sign = -1 if m.group(8)[0] == "-" else 1
        offset = sign * (int(m.group(8)[1:3]) * 3600 + int(m.group(8)[4:6]) * 60)
    return calendar.timegm((y, mo, d, h, mi, s)), offset

rows, mismatches = [], []
for truth_file in sorted(truth_dir.glob("*.truth.json")):
    truth = json.loads(truth_file.read_text())
    name = truth_file.name[: -len(".truth.json")]
    if name.startswith("carved-"):
        continue
    exfat = truth["filesystem"] == "exfat"
    scan = json.loads((work / f"{name}.json").read_text())
    found = {c["name"]: c for fs in scan["filesystems"] for c in fs["candidates"]}
    tsk = {}
    for line in (work / f"{name}.body").read_text().splitlines():
        fields = line.split("|")
        path = fields[1]
        if not path.endswith(" (deleted)"):
            continue
        tsk[path[1:-len(" (deleted)")].lower()] = {
            "accessed": int(fields[7]), "modified": int(fields[8]), "created": int(fields[10])}
    counts = {k: [0, 0, 0, 0] for k in ("modified", "created", "accessed")}
    for file in truth["files"]:
        candidate = found.get(file["shown_name"])
        theirs = tsk.get(file["shown_name"].lower())
        for key in counts:
            counts[key][2] += 1
            ours = candidate.get(key) if candidate else None
            if ours == file[key]:
                counts[key][0] += 1
            else:
                mismatches.append(f"{name} {file['shown_name']} {key}: tool {ours} truth {file[key]}")
            if ours is None or theirs is None:
                mismatches.append(f"{name} {file['shown_name']} {key}: no value to compare with fls")
                continue
            seconds, offset = reading(ours)
            utc_key = {"modified": "mtime_utc", "created": "crtime_utc", "accessed": "atime_utc"}[key]
            if seconds - offset == file[utc_key]:
                counts[key][3] += 1
            else:
                mismatches.append(f"{name} {file['shown_name']} {key}: tool {ours} is "
                                  f"{seconds - offset} UTC, truth {file[utc_key]}")
            # fls leaves out the offset (it shows the local reading) and, on exFAT, the 10 ms
            # count, so the reading cut to 2 s is what it must show.
            expected = seconds - seconds % 2 if exfat else seconds
            if expected == theirs[key]:
                counts[key][1] += 1
            else:
                mismatches.append(f"{name} {file['shown_name']} {key}: tool {ours} "
                                  f"(reading {expected}, offset {offset}) fls {theirs[key]}")
    for key, (truth_ok, tsk_ok, total, utc_ok) in counts.items():
        rows.append((name, key, truth_ok, utc_ok, tsk_ok, total))

print(f"{'fixture':<14} {'date':<9} {'=truth':>7} {'=utc':>6} {'=fls':>6} {'files':>6}")
for name, key, truth_ok, utc_ok, tsk_ok, total in rows:
    print(f"{name:<14} {key:<9} {truth_ok:>7} {utc_ok:>6} {tsk_ok:>6} {total:>6}")
for line in mismatches:
    print("mismatch:", line)
sys.exit(1 if mismatches else 0)
PY

# Carved files: the tool's reading of each file's content beside exiftool's.
card="$work/carved-dates.img"
"$tool" scan --image "$card" --carve --timestamps 2>/dev/null >"$work/carved-dates.json"
python3 - "$work" "$repo/tests/fixtures/dates/carved-dates.truth.json" <<'PY' || status=1
import json, pathlib, subprocess, sys

work, truth = pathlib.Path(sys.argv[1]), json.loads(pathlib.Path(sys.argv[2]).read_text())
image = (work / "carved-dates.img").read_bytes()
scan = json.loads((work / "carved-dates.json").read_text())
found = {c["data_offset"]: c for fs in scan["filesystems"] for c in fs["candidates"]}
cut = work / "carved"
cut.mkdir()
for file in truth["files"]:
    (cut / file["name"]).write_bytes(image[file["offset"]:file["offset"] + file["size"]])
read = subprocess.run(["exiftool", "-j", "-a", "-G1", "-api", "QuickTimeUTC=1", str(cut)],
                      capture_output=True, check=True, env={"TZ": "UTC", "PATH": "/usr/bin:/bin"})
by_name = {pathlib.Path(r["SourceFile"]).name: r for r in json.loads(read.stdout)}

def iso(text):
    """exiftool's '2024:05:03 14:22:10+09:00' as ISO 8601, UTC written "+00:00"."""
    if not text or text.startswith("1904:01:01 00:00:00"):
        return None
    date, clock = text[:10], text[11:]
    return (date.replace(":", "-") + "T" + clock).replace("Z", "+00:00")

def exiftool_dates(tags):
    if "ExifIFD:DateTimeOriginal" in tags:
        return tags["ExifIFD:DateTimeOriginal"] + tags.get("ExifIFD:OffsetTimeOriginal", ""), None
    if "IFD0:ModifyDate" in tags:
        return tags["IFD0:ModifyDate"] + tags.get("ExifIFD:OffsetTime", ""), None
    for modified, created in [("QuickTime:CreateDate", None), ("PDF:ModifyDate", "PDF:CreateDate"),
                              ("XML:ModifyDate", "XML:CreateDate"),
                              ("XMP-dc:Date", "XMP-meta:Creation-date")]:
        if modified in tags or (created and created in tags):
            return tags.get(modified), tags.get(created) if created else None
    return None, None

def same(a, b):
    return (a and a.replace("Z", "+00:00")) == (b and b.replace("Z", "+00:00"))

print(f"\n{'carved file':<14} {'date':<9} {'tool':<26} {'=truth':>7} {'=exiftool':>10}")
mismatches = []
for file in truth["files"]:
    candidate = found.get(file["offset"], {})
    theirs = dict(zip(("modified", "created"), (iso(t) for t in exiftool_dates(by_name[file["name"]]))))
    for key in ("modified", "created"):
        ours = candidate.get(key)
        ok_truth, ok_exiftool = ours == file[key], same(ours, theirs[key])
        print(f"{file['name']:<14} {key:<9} {str(ours):<26} {ok_truth!s:>7} {ok_exiftool!s:>10}")
        if not ok_truth:
            mismatches.append(f"{file['name']} {key}: tool {ours} truth {file[key]}")
        if not ok_exiftool:
            mismatches.append(f"{file['name']} {key}: tool {ours} exiftool {theirs[key]}")
for line in mismatches:
    print("mismatch:", line)
sys.exit(1 if mismatches else 0)
PY
# NTFS: $STANDARD_INFORMATION's dates ("modified", "created", "accessed") and the ones beside the
# name ("name_times", or the same dates when it is null) of every deleted file of every NTFS
# fixture, to the second, beside The Sleuth Kit's body lines (the plain line and the
# "($FILE_NAME)" one of the same record).
for gz in "$repo"/tests/fixtures/ntfs/*.img.gz; do
  name=$(basename "$gz" .img.gz)
  sector=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["sector_size"])' \
    "${gz%.img.gz}.truth.json")
  gunzip -c "$gz" >"$work/$name.img"
  offset=$(python3 -c 'import json,sys; t=json.load(open(sys.argv[1])); print(t["partitions"][0]["start_lba"])' \
    "${gz%.img.gz}.truth.json")
  if ! TZ=UTC fls -m / -r -b "$sector" -o "$offset" "$work/$name.img" >"$work/$name.body" 2>/dev/null; then
    echo "$name: fls cannot read it (left out)"
    rm "$work/$name.body"
    continue
  fi
  "$tool" scan --image "$work/$name.img" --sector-size "$sector" --timestamps >"$work/$name.json"
done
python3 - "$work" "$repo"/tests/fixtures/ntfs/*.img.gz <<'PY' || status=1
import calendar, json, pathlib, re, sys

work = pathlib.Path(sys.argv[1])
ISO = re.compile(r"^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.\d+)?Z$")

def seconds(text):
    m = ISO.match(text)
    return calendar.timegm(tuple(int(v) for v in m.groups())) if m else None

print(f"\n{'ntfs fixture':<22} {'dates':>6} {'=fls':>6} {'no fls line':>10}")
mismatches = []
for gz in sys.argv[2:]:
    name = pathlib.Path(gz).name[: -len(".img.gz")]
    if not (work / f"{name}.body").exists():
        continue
    body = {}
    for line in (work / f"{name}.body").read_text().splitlines():
        fields = line.split("|")
        record = fields[2].split("-")[0]
        kind = "name" if "($FILE_NAME)" in fields[1] else "information"
        body.setdefault((record, kind), {"accessed": int(fields[7]), "modified": int(fields[8]),
                                         "created": int(fields[10])})
    scan = json.loads((work / f"{name}.json").read_text())
    compared = agreed = unshown = 0
    for fs in scan["filesystems"]:
        for c in fs["candidates"]:
            record = c["id"].split(":")[2]
            beside_name = c["name_times"] or c
            for kind, dates in (("information", c), ("name", beside_name)):
                theirs = body.get((record, kind))
                if theirs is None:
                    unshown += 3  # fls gives no such line (a name kept in an extension record)
                    continue
                for key in ("modified", "created", "accessed"):
                    compared += 1
                    ours = seconds(dates[key]) if dates[key] else None
                    if ours == theirs[key]:
                        agreed += 1
                    else:
                        mismatches.append(f"{name} {c['name']} {kind} {key}: tool {dates[key]} "
                                          f"fls {theirs[key]}")
    print(f"{name:<22} {compared:>6} {agreed:>6} {unshown:>10}")
for line in mismatches:
    print("mismatch:", line)
sys.exit(1 if mismatches else 0)
PY
exit $status
