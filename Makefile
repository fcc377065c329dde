# Thin driver over CMake. `make run` and `make test` are all a newcomer needs.
JOBS    ?= $(shell nproc)
WERROR  ?= $(if $(CI),ON,OFF)
BUILD   := build
ASAN    := build-asan
TSAN    := build-tsan
CMAKE_FLAGS := -DKVA_WERROR=$(WERROR)

.PHONY: all deps configure build pack run test test-normal test-asan test-tsan bench fuzz video format clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory

# The default asset pack, made once into the build folder and again only
# when the pack maker changes.
PACK := $(BUILD)/pr0n.rar

$(PACK): build
	@if [ ! -f $@ ] || [ $(BUILD)/tools/kva-makepack -nt $@ ]; then \
		echo "making the asset pack $@"; \
		$(BUILD)/tools/kva-makepack $@.tmp && mv $@.tmp $@; fi

pack: $(PACK)

run: pack
	cd $(BUILD) && ./kva

video: pack
	cd $(BUILD) && ./kva-export -o kva.mp4

test: test-normal test-asan test-tsan

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVA_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN) -j $(JOBS) -- --no-print-directory
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# The tests where the audio thread and the main thread meet, under
# ThreadSanitizer: any report fails them.
TSAN_TESTS := ^(Offline|OfflineClock|Player|PlayerExit|DiskDevice|SongKinds)\.

test-tsan: deps
	@cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVA_TSAN=ON $(CMAKE_FLAGS) >/dev/null
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
	rm -rf $(BUILD) $(ASAN) $(TSAN) build-fuzz
