# Front door of the project. `make demo` and `make test` work on a fresh
# Debian 12 machine as the only command typed.
BUILD      ?= build
BUILD_TSAN ?= build-tsan
BUILD_FUZZ ?= build-fuzz
FUZZ_SECONDS ?= 60
CMAKE_ARGS ?=

.PHONY: all deps build test test-tsan bench demo fuzz run screenshots clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j2 --timeout 600

# The driver and the banded effects under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(BUILD_TSAN) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLQ_SANITIZE=thread \
	  -DLQ_BUILD_STUDIO=OFF -DLQ_BUILD_BENCH=OFF
	cmake --build $(BUILD_TSAN)
	cd $(BUILD_TSAN) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --output-on-failure -j2 --timeout 1200 -L 'engine|effects'

bench: deps
	@scripts/install-deps.sh bench
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DLQ_BENCH_PEERS=ON $(CMAKE_ARGS)
	cmake --build $(BUILD)
	$(BUILD)/bench/lq_bench --benchmark_counters_tabular=true $(BENCH_ARGS)
	bench/peers.sh $(BUILD)

# The script parser and the preset reader under libFuzzer (clang, ASan, UBSan),
# FUZZ_SECONDS each. Findings are written to $(BUILD_FUZZ)/findings.
FUZZ_TARGETS = script presets
fuzz: deps
	@scripts/install-deps.sh fuzz
	cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLQ_FUZZ=ON \
	  -DLQ_BUILD_TESTS=OFF -DLQ_BUILD_BENCH=OFF -DLQ_BUILD_STUDIO=OFF
	cmake --build $(BUILD_FUZZ) --target $(addprefix lq_fuzz_,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD_FUZZ)/corpus/$$t $(BUILD_FUZZ)/findings && \
	  echo "== fuzzing $$t for $(FUZZ_SECONDS) s" && \
	  $(BUILD_FUZZ)/tests/fuzz/lq_fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(BUILD_FUZZ)/findings/$$t- $(BUILD_FUZZ)/corpus/$$t tests/fuzz/seeds/$$t || exit 1; \
	done

demo: build
	$(BUILD)/cli/lumaquill-cli demo --out-dir out/demo

# The studio on the built-in photograph.
run: build
	$(BUILD)/ui/main/lumaquill --default-image

# PNGs of the studio's window under a virtual display, into out/screenshots/.
screenshots: build
	rm -rf out/screenshots
	xvfb-run -a -s "-screen 0 1600x1000x24" $(BUILD)/ui/main/lumaquill-screenshots out/screenshots

clean:
	rm -rf $(BUILD) $(BUILD_TSAN) $(BUILD_FUZZ) out
