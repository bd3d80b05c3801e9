# Entry points used by the README and CI. Everything is driven through the CMake presets.
.PHONY: build windows demo check check-release check-sanitize check-tsan check-windows clean

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

check: check-release check-sanitize check-windows

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

clean:
	rm -rf build
