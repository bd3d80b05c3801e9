#!/usr/bin/env bash
# The tool's main job on the bundled sample SD card image: scan it for deleted
# files, then recover every one of them into a directory, and show what came back.
#
#   scripts/demo.sh [TOOL] [OUTPUT_DIRECTORY]
#
#   TOOL               the built kestrel-recovery-cli (default: build/release/cli/kestrel-recovery-cli;
#                      build it with `make build`)
#   OUTPUT_DIRECTORY   where the recovered files go (default: ./recovered-sample). Existing files
#                      there are never overwritten: the tool picks numbered names instead.
#
# Needs gzip and python3 (to print the summaries). Nothing outside OUTPUT_DIRECTORY is written,
# except a scratch directory that is removed at the end.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$repo/build/release/cli/kestrel-recovery-cli}
output=${2:-recovered-sample}
sample="$repo/samples/sample-card.img.gz"
truth="$repo/samples/sample-card.truth.json"

if [[ ! -x "$tool" ]]; then
  echo "The tool was not found at $tool." >&2
  echo "Build it first with: make build   (or pass its path: scripts/demo.sh path/to/kestrel-recovery-cli)" >&2
  exit 1
fi
for needed in gzip python3; do
  command -v "$needed" >/dev/null || { echo "This demo needs $needed." >&2; exit 1; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-demo.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
image="$scratch/sample-card.img"

echo "== 1. The sample card"
gzip -dc "$sample" > "$image"
echo "samples/sample-card.img.gz unpacked to $image ($(( $(stat -c %s "$image") / 1048576 )) MiB):"
python3 -c 'import json, sys, textwrap; print(textwrap.fill(json.load(open(sys.argv[1]))["description"], 100))' "$truth"
echo

echo "== 2. Scan: $(basename "$tool") scan --image sample-card.img"
"$tool" scan --image "$image" > "$scratch/scan.json"
python3 - "$scratch/scan.json" <<'EOF'
import json, sys, unicodedata

def padded(text, width):
    # Pads by display columns: wide characters (Hangul, CJK) take two.
    columns = sum(2 if unicodedata.east_asian_width(ch) in "WF" else 1 for ch in text)
    return text + " " * max(0, width - columns)

scan = json.load(open(sys.argv[1]))
print(f"partition table: {scan['partition_table']['scheme']}, image of {scan['capacity_bytes']:,} bytes")
for fs in scan["filesystems"]:
    label = fs["label"] or "no label"
    print(f"partition {fs['partition_index']}: {fs['kind']} ({label}), {len(fs['candidates'])} deleted files found")
    print(f"  {'id':<18} {'name':<34} {'bytes':>7}  {'how it is read':<18} confidence")
    for c in fs["candidates"]:
        kind = c["detected_kind"] or "unknown content"
        print(f"  {c['id']:<18} {padded(c['name'], 34)} {c['size']:>7}  {c['recoverability']:<18} "
              f"{c['confidence']} ({c['confidence_score']}, {kind})")
EOF
echo "A name starting with \"_\" is a short 8.3 name: deleting a file on FAT32 overwrites its first letter."
echo "(The full scan document is JSON on standard output; it also explains each grade in Korean notes.)"
echo

echo "== 3. Recover everything: $(basename "$tool") recover-all --image sample-card.img --output-directory $output"
status=0
"$tool" recover-all --image "$image" --output-directory "$output" > "$scratch/batch.json" || status=$?
python3 - "$scratch/batch.json" "$truth" <<'EOF'
import hashlib, json, sys
batch = json.load(open(sys.argv[1]))
truth = {f["name"]: f for f in json.load(open(sys.argv[2]))["files"] if f["deleted"]}
print(f"{batch['recovered_count']} of {batch['selected_count']} files written to {batch['output_directory']}")
print()
print("What came back, compared with the files as they were before deletion:")
for item in batch["items"]:
    name = item["candidate_name"]
    if item["error"]:
        print(f"  FAILED     {name}: {item['error']}")
        continue
    digest = hashlib.sha256(open(item["output"], "rb").read()).hexdigest()
    original = truth.get(name)
    if original is None:
        verdict = "written      "
        note = ""
    elif digest == original["sha256"]:
        verdict = "identical    "
        note = ""
    else:
        verdict = "not the same "
        note = "\n               why: " + original["why"].split(";")[-1].strip()
    print(f"  {verdict}{name} ({item['bytes_written']} bytes){note}")
EOF
echo
if [[ $status -ne 0 ]]; then
  echo "recover-all reported failures (exit code $status); see above." >&2
  exit "$status"
fi
echo "Done. Open $output to see the recovered files."
echo "To recover a single file: $(basename "$tool") recover --image IMAGE --id ID --output FILE"
