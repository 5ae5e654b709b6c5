# The two commands a newcomer needs: `make demo` and `make test`.
# The other targets are the pieces CI runs (see .ci/run).
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 5

.PHONY: deps test demo test-asan test-asan-gui test-tsan fuzz-smoke bench package package-check soak soak-smoke

deps:
	@scripts/install-deps

test: deps
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug -j $(JOBS)

demo: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	tools/demo/run-demo build/release demo-out

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# Everything, the window and the engine parts included, under ASan+UBSan; runs
# the browser and end-to-end tests (leak reports of the toolkit's and the
# engine's process-wide caches are suppressed in tests/lsan.supp). The program's
# standard error goes nowhere in the end-to-end tests, so reports go to files,
# shown when there are any. The leak checker's own thread-stopping tracer now and
# then crashes at exit ("Tracer caught signal"): a fault of the checker, not of the
# program, so such a run is repeated once and its report alone is not counted.
test-asan-gui: deps
	cmake --preset asan-gui
	cmake --build --preset asan-gui -j $(JOBS)
	rm -rf build/asan-gui/sanitizer && mkdir -p build/asan-gui/sanitizer
	ctest --preset asan-gui -j $(JOBS) --repeat until-pass:2 || { cat build/asan-gui/sanitizer/* 2>/dev/null; exit 1; }
	@! grep -L "Tracer caught signal" build/asan-gui/sanitizer/* 2>/dev/null | xargs -r cat | grep .

test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

fuzz-smoke: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	fuzz/run-all build/fuzz $(FUZZ_SECONDS)

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	bench/run-all build/release

# The Debian package, build/package/orvalis_<version>_amd64.deb, and its checks.
package: deps
	cmake --preset package
	cmake --build --preset package -j $(JOBS)
	cd build/package && cpack

package-check: package
	packaging/check

SOAK_MINUTES ?= 30
soak: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target orvalis soak_frame_times
	bench/soak/run build/release $(SOAK_MINUTES)

# CI: two minutes, failing only on a crash or a leaked descriptor.
soak-smoke: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target orvalis soak_frame_times
	bench/soak/run build/release 2 --warmup 1 --smoke
