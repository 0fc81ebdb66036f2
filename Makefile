# The two commands a player or a developer needs: `make run` and `make test`.
# Everything else is here for developers and packagers.

JOBS ?= $(shell nproc)
FUZZ_RUNS ?= 20000

.PHONY: all deps build run test test-dev test-programs test-asan test-fuzz bench book fuzz mutants install package clean

all: build

deps:
	@./scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)

run: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target tessaro
	./build/release/src/app/tessaro

# The unit and loopback tests run once, under the sanitizers; the Debug build adds only what
# they cannot cover there (the programs under a display, the package), so nothing is compiled
# twice for the same check. make test-dev runs every test in the Debug build.
test: deps test-programs test-asan test-fuzz

test-dev: build
	ctest --preset dev -j $(JOBS)

test-programs: deps
	cmake --preset dev
	cmake --build --preset programs -j $(JOBS)
	ctest --preset programs -j $(JOBS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# Each fuzz target for a fixed number of inputs from its seeds: a smoke run that keeps make test
# short; make fuzz is the long search.
test-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	./scripts/run-fuzzers build/fuzz $(FUZZ_RUNS)

# As long as one likes: make fuzz FUZZ_SECONDS=3600
FUZZ_SECONDS ?= 600
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	./scripts/run-fuzzers build/fuzz 0 $(FUZZ_SECONDS)

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	./scripts/run-benchmarks build/release

# The opening book of the perfect level: under two hours on two cores. It resumes where a
# stopped run left off, and keeps every ply it finished. BOOK_PLIES is the deepest ply decided;
# the committed book goes to 12, beyond which the solver proves every move within a second.
BOOK_PLIES ?= 12
book: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target make-opening-book
	./build/release/tools/make-opening-book data/opening-book.bin $(BOOK_PLIES) $(JOBS)

# Plants each fault of tests/mutants/*.txt in a scratch copy and reports those no test caught.
# A developer's tool, not part of make test: make mutants MUTANTS=net (a catalogue or a name).
mutants: deps
	./scripts/mutants $(MUTANTS)

install: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cmake --install build/release

package: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cd build/release && cpack -G DEB

clean:
	rm -rf build
