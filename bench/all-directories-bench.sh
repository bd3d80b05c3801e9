#!/usr/bin/env bash
# Counts, per fixture image, the deleted files given back byte-exact (SHA-256 equal to what the
# fixture script wrote) by this tool without options, by this tool with --all-directories, and by
# The Sleuth Kit (every regular file `fls -r -d -p` lists as deleted, read with `icat`), side by
# side, and then which files each of the two walks of folders misses that the other gets.
#
# Usage: bench/all-directories-bench.sh [--tool PATH] [FIXTURE.img.gz ...]
#   --tool PATH   the built kestrel-recovery-cli (default: build/release/cli/kestrel-recovery-cli)
#   fixtures      default: every tests/fixtures/filesystems/*.img.gz and samples/sample-card.img.gz
#
# A fixture's truth file (<name>.truth.json beside it) names the files and their digests. The
# folders themselves are left out of the counts (an exFAT deleted folder is a candidate of its
# own, whose bytes are its entries). Needs python3 and, for the third column, fls and icat.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
tool="$repo/build/release/cli/kestrel-recovery-cli"
fixtures=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --tool) tool=$2; shift 2 ;;
    *) fixtures+=("$1"); shift ;;
  esac
done
if [[ ${#fixtures[@]} -eq 0 ]]; then
  fixtures=("$repo"/tests/fixtures/filesystems/*.img.gz "$repo/samples/sample-card.img.gz")
fi
[[ -x "$tool" ]] || { echo "tool not found: $tool (build it with: make build)" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-all-directories-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

python3 - "$tool" "$scratch" "${fixtures[@]}" <<'PY'
import gzip, hashlib, json, os, shutil, subprocess, sys

tool, scratch, fixtures = sys.argv[1], sys.argv[2], sys.argv[3:]
have_tsk = shutil.which("fls") and shutil.which("icat")


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as handle:
        for block in iter(lambda: handle.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def deleted_files(truth):
    """The deleted, non-empty files the script wrote (folders left out): path -> (partition, sha)."""
    paths = {f["path"] for f in truth["files"]}
    return {f["path"]: (f["partition_index"], f["sha256"]) for f in truth["files"]
            if f["deleted"] and f["size"] > 0 and not any(p.startswith(f["path"] + "/") for p in paths)}


def ours(image, truth, extra):
    out = os.path.join(scratch, "out")
    shutil.rmtree(out, ignore_errors=True)
    run = subprocess.run([tool, "recover-all", "--image", image, "--output-directory", out,
                          "--sector-size", str(truth["sector_size"]), *extra], capture_output=True)
    if not run.stdout:
        return set()
    items = json.loads(run.stdout)["items"]
    ids = {}
    scan = json.loads(subprocess.run([tool, "scan", "--image", image, "--sector-size",
                                      str(truth["sector_size"]), *extra], capture_output=True).stdout)
    for report in scan["filesystems"]:
        for candidate in report["candidates"]:
            ids[candidate["id"]] = report["partition_index"]
    return {(ids[item["candidate_id"]], sha256_file(item["output"])) for item in items if item["output"]}


def sleuth_kit(image, truth):
    found = set()
    for partition in truth["partitions"]:
        if partition["filesystem"] == "unknown":
            continue
        offset = str(partition["start_lba"] * truth["sector_size"] // 512)
        listing = subprocess.run(["fls", "-r", "-d", "-p", "-o", offset, image], capture_output=True,
                                 text=True, errors="replace").stdout
        for line in listing.splitlines():
            kind, _, rest = line.partition(" ")
            if not kind.endswith("/r") or "*" not in rest.split(":")[0]:
                continue
            inode = rest.split(":")[0].replace("*", "").strip()
            target = os.path.join(scratch, "icat.bin")
            with open(target, "wb") as handle:
                subprocess.run(["icat", "-o", offset, image, inode], stdout=handle, stderr=subprocess.DEVNULL)
            found.add((partition["index"], sha256_file(target)))
    return found


rows = []
for fixture in fixtures:
    name = os.path.basename(fixture)[: -len(".img.gz")]
    truth = json.load(open(fixture[: -len(".img.gz")] + ".truth.json"))
    image = os.path.join(scratch, name + ".img")
    with gzip.open(fixture, "rb") as source, open(image, "wb") as target:
        shutil.copyfileobj(source, target, 1 << 20)
    files = deleted_files(truth)
    exact = lambda got: {p for p, key in files.items() if key in got}
    plain, everywhere = exact(ours(image, truth, [])), exact(ours(image, truth, ["--all-directories"]))
    tsk = exact(sleuth_kit(image, truth)) if have_tsk else None
    rows.append((name, len(files), plain, everywhere, tsk))
    os.remove(image)

print(f"{'fixture':34} {'deleted':>7} {'plain':>6} {'--all-dirs':>10} {'fls+icat':>9}")
totals = [0, 0, 0, 0]
for name, count, plain, everywhere, tsk in rows:
    print(f"{name:34} {count:7} {len(plain):6} {len(everywhere):10} {len(tsk) if tsk is not None else '-':>9}")
    totals = [totals[0] + count, totals[1] + len(plain), totals[2] + len(everywhere),
              totals[3] + (len(tsk) if tsk is not None else 0)]
print(f"{'total':34} {totals[0]:7} {totals[1]:6} {totals[2]:10} {totals[3] if have_tsk else '-':>9}")
if have_tsk:
    for name, count, plain, everywhere, tsk in rows:
        for path in sorted(tsk - everywhere):
            print(f"  only fls+icat: {name} {path}")
        for path in sorted(everywhere - tsk):
            print(f"  only --all-directories: {name} {path}")
else:
    print("(The Sleuth Kit's fls/icat are not installed: no comparison.)")
PY
