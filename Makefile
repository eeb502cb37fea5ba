# The two commands: `make demo` and `make test`.
BUILD   ?= build
GEN     := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
RELEASE := $(BUILD)/release
TESTDIR := $(BUILD)/test
ASAN    := $(BUILD)/asan

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

# The tests, then the same tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer, which fail on any report.
test: test-prereqs
	@cmake -S . -B $(TESTDIR) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(TESTDIR)
	@cd $(TESTDIR) && ctest --output-on-failure -j2
	@echo "== the tests again, with AddressSanitizer and UndefinedBehaviorSanitizer"
	@cmake -S . -B $(ASAN) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRIN_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN)
	@cd $(ASAN) && ctest --output-on-failure -j2

clean:
	rm -rf $(BUILD)

.PHONY: FORCE
FORCE:

# Timings against peer tools; writes a corpus of several GB under build/bench.
.PHONY: bench
bench: prereqs
	@bash bench/run.sh
