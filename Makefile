# Entry points used by the README and CI. Everything is driven through the CMake presets.
.PHONY: build windows demo check check-release check-sanitize check-tsan check-windows format \
	format-check tidy clean

build:
	cmake --preset release
	cmake --build --preset release

# The Windows executable, cross-built: build/windows/cli/kestrel-recovery-cli.exe
windows:
	cmake --preset windows
	cmake --build --preset windows

# The main job on the bundled sample card image.
demo: build
	scripts/demo.sh build/release/cli/kestrel-recovery-cli

# Style first (seconds), then each suite; the static analysis reuses the release build's compile
# commands.
check: format-check check-release tidy check-sanitize check-windows

check-release:
	cmake --preset release
	cmake --build --preset release
	ctest --preset release

check-sanitize:
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

# The imaging tests under ThreadSanitizer (the engine reads the device on a thread of its own).
# Not part of check: a build of its own for one part of the tree.
check-tsan:
	cmake --preset tsan
	cmake --build --preset tsan
	build/tsan/tests/kestrel_tests --gtest_filter='ImagingEngine.*:ImagingPowerCut.*:CheckpointFile.*:ImageCommand*:InterruptSignal.*'

# Cross build, then every test under Wine (in a prefix of its own, build/windows/wineprefix,
# created by the first test run). The shipped executable must import system DLLs only.
check-windows: windows
	scripts/check-windows-imports.sh build/windows/cli/kestrel-recovery-cli.exe
	ctest --preset windows

# The committed style (.clang-format), checked with clang-format 19 over every C++ file in git.
CLANG_FORMAT ?= clang-format-19
format:
	git ls-files '*.cpp' '*.hpp' | xargs $(CLANG_FORMAT) -i

format-check:
	git ls-files '*.cpp' '*.hpp' | xargs $(CLANG_FORMAT) --dry-run --Werror

# The committed checks (.clang-tidy) over the product's sources built for Linux, on the release
# build's compile commands; any finding fails.
tidy:
	cmake --preset release
	scripts/run-tidy.sh build/release

clean:
	rm -rf build
