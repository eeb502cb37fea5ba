# The two commands: `make demo` and `make test`.
BUILD   ?= build
GEN     := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
RELEASE := $(BUILD)/release
DEBUG   := $(BUILD)/debug

.PHONY: all demo test prereqs test-prereqs clean

all: demo

prereqs:
	@bash tools/check-prereqs.sh

test-prereqs:
	@bash tools/check-prereqs.sh test

$(RELEASE)/korrin: prereqs FORCE
	@cmake -S . -B $(RELEASE) $(GEN) -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE) --target korrin

demo: $(RELEASE)/korrin
	@echo "== LIST=examples/programs.lst korrin $(BUILD)/demo-report.txt"
	@LIST=examples/programs.lst $(RELEASE)/korrin $(BUILD)/demo-report.txt; \
	  echo "== exit status $$?; the report, $(BUILD)/demo-report.txt:"
	@cat $(BUILD)/demo-report.txt

test: test-prereqs
	@cmake -S . -B $(DEBUG) $(GEN) -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(DEBUG)
	@cd $(DEBUG) && ctest --output-on-failure

clean:
	rm -rf $(BUILD)

.PHONY: FORCE
FORCE:

# Timings against peer tools; writes a corpus of several GB under build/bench.
.PHONY: bench
bench: prereqs
	@bash bench/run.sh
