# Entry points used by the README and CI. Everything is driven through the CMake presets.
.PHONY: build windows demo check check-release check-sanitize check-windows clean

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

# Cross build, then every test under Wine (in a prefix of its own, build/windows/wineprefix,
# created by the first test run). The shipped executable must import system DLLs only.
check-windows: windows
	scripts/check-windows-imports.sh build/windows/cli/kestrel-recovery-cli.exe
	ctest --preset windows

clean:
	rm -rf build
