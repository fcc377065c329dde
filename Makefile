# Thin driver over CMake. `make run` and `make test` are all a newcomer needs.
JOBS    ?= $(shell nproc)
WERROR  ?= $(if $(CI),ON,OFF)
BUILD   := build
ASAN    := build-asan
TSAN    := build-tsan
CMAKE_FLAGS := -DKVA_WERROR=$(WERROR)
# make run, make install and make deb build the programs alone: tests and
# benchmarks stay out whatever else the machine has installed.
RUN_FLAGS  := -DKVA_TESTS=OFF -DKVA_BENCH=OFF
TEST_FLAGS := -DKVA_TESTS=ON -DKVA_BENCH=ON
PREFIX  ?= /usr/local
DESTDIR ?=

.PHONY: all deps deps-run deps-deb configure configure-run build pack run test test-normal \
	test-asan test-tsan bench fuzz video install deb format clean

all: build

# Every package (tests, benchmarks, fuzzers); make run and make install need
# only those that build and run the show.
deps:
	@./scripts/install-deps.sh all

deps-run:
	@./scripts/install-deps.sh run

deps-deb:
	@./scripts/install-deps.sh deb

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) $(TEST_FLAGS) >/dev/null

configure-run: deps-run
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) $(RUN_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory

# The programs and the default asset pack, made into the build folder (the
# pack again only when the pack maker changes); kva finds the pack beside it.
pack: configure-run
	@cmake --build $(BUILD) -j $(JOBS) --target kva kva_pack -- --no-print-directory

run: pack
	$(BUILD)/kva

video: configure-run
	@cmake --build $(BUILD) -j $(JOBS) --target kva-export kva_pack -- --no-print-directory
	$(BUILD)/kva-export -o $(BUILD)/kva.mp4

# PREFIX (default /usr/local) and DESTDIR as usual.
install: configure-run
	@cmake --build $(BUILD) -j $(JOBS) --target kva kva-export kva-makepack kva_pack kva_docs \
		-- --no-print-directory
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# build/kva_<version>_amd64.deb, installing into /usr: built in its own folder
# with Debian's compiler flags and dates (cmake/make-deb.sh), so the other
# builds keep the project's flags.
DEB_BUILD := build-deb

deb: deps-deb
	@KVA_WERROR=$(WERROR) ./cmake/make-deb.sh $(DEB_BUILD) $(BUILD) $(JOBS)

test: test-normal test-asan test-tsan

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The sanitizer build leaves the pack out: the normal build's tests cover it.
test-asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVA_SANITIZE=ON -DKVA_PACK=OFF \
		$(CMAKE_FLAGS) $(TEST_FLAGS) >/dev/null
	@cmake --build $(ASAN) -j $(JOBS) -- --no-print-directory
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# The tests where the audio thread and the main thread meet, under
# ThreadSanitizer: any report fails them.
TSAN_TESTS := ^(Offline|OfflineClock|Player|PlayerExit|DiskDevice|SongKinds)\.

test-tsan: deps
	@cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVA_TSAN=ON $(CMAKE_FLAGS) \
		$(TEST_FLAGS) >/dev/null
	@cmake --build $(TSAN) -j $(JOBS) --target kva_tests -- --no-print-directory
	cd $(TSAN) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

bench: build
	$(BUILD)/bench/kva_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
		--benchmark_report_aggregates_only=true

FUZZ_SECONDS ?= 60

fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) ./scripts/fuzz.sh

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(DEB_BUILD) build-fuzz
