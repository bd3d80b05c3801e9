# Entry points used by the README and CI. Everything is driven through the CMake presets.
.PHONY: build demo check check-release check-sanitize clean

build:
	cmake --preset release
	cmake --build --preset release

# The main job on the bundled sample card image.
demo: build
	scripts/demo.sh build/release/cli/kestrel-recovery-cli

check: check-release check-sanitize

check-release:
	cmake --preset release
	cmake --build --preset release
	ctest --preset release

check-sanitize:
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

clean:
	rm -rf build
