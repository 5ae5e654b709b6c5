# The two commands a newcomer needs: `make demo` and `make test`.
# The other targets are the pieces CI runs (see .ci/run).
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 5

.PHONY: deps test demo test-asan test-tsan fuzz-smoke bench package package-check

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
