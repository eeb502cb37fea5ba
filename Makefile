# SPDX-License-Identifier: MIT
# The two commands: `make demo` (the sample report) and `make test` (every
# test, then again with sanitizers). The others:
#   make install [PREFIX=dir] [DESTDIR=dir]  korrin, its manual page and documents
#   make package                     the Debian package, checked
#   make tsan                        the tests built with ThreadSanitizer
#   make cross                       the tests built for i386 and s390x, run under qemu-user
#   make memcheck                    the tests under valgrind
#   make lint                        clang-format and clang-tidy, at zero findings
#   make fuzz [FUZZ_SECONDS=n]       the libFuzzer targets
#   make bench [COLD=1] [OLD=korrin] timings against peer tools and floors (bench/README.md)
#   make clean
BUILD   ?= build
GEN     := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
RELEASE := $(BUILD)/release
TESTDIR := $(BUILD)/test
ASAN    := $(BUILD)/asan

.PHONY: all demo test prereqs clean

all: demo

prereqs:
	@bash tools/check-prereqs.sh

$(RELEASE)/korrin: prereqs FORCE
	@cmake -S . -B $(RELEASE) $(GEN) -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE) --target korrin >$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; exit 1; }

demo: $(RELEASE)/korrin
	@echo "== \$$ LIST=examples/programs.lst korrin $(BUILD)/demo-report.txt"
	@echo "== progress, one line per file opened (standard output):"
	@LIST=examples/programs.lst $(RELEASE)/korrin $(BUILD)/demo-report.txt; \
	  echo "== exit status $$?"
	@echo "== the report, $(BUILD)/demo-report.txt (first column: carriage control):"
	@cat $(BUILD)/demo-report.txt

# The tests, then the same tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer, which fail on any report; warnings are errors.
# Each pass prints its CTest summary.
test: prereqs
	@bash tools/run-tests.sh $(TESTDIR) "the tests, optimized build ($(TESTDIR))" \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRIN_WERROR=ON
	@bash tools/run-tests.sh $(ASAN) "the tests again, with AddressSanitizer and UndefinedBehaviorSanitizer ($(ASAN))" \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRIN_WERROR=ON -DKORRIN_SANITIZE=ON

# The tests built with ThreadSanitizer: korrin reads ahead on worker threads.
TSAN := $(BUILD)/tsan
.PHONY: tsan
tsan: prereqs
	@bash tools/run-tests.sh $(TSAN) "the tests with ThreadSanitizer ($(TSAN))" \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRIN_WERROR=ON -DKORRIN_TSAN=ON

clean:
	rm -rf $(BUILD)

# The tests built for 32-bit x86 and for big-endian s390x with Debian's cross
# compilers and run under qemu-user; as root, installs what they need.
.PHONY: cross
cross: prereqs
	@bash tools/cross-test.sh i686-linux-gnu
	@bash tools/cross-test.sh s390x-linux-gnu

# Installs the binary, the compressed manual page, the copyright file and the
# compressed changelog under PREFIX (default /usr/local), staged under
# DESTDIR when it is set.
PREFIX ?= /usr/local
.PHONY: install
install: $(RELEASE)/korrin
	@cmake --build $(RELEASE) >$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; exit 1; }
	@DESTDIR="$(DESTDIR)" cmake --install $(RELEASE) --prefix $(PREFIX)

# A Debian package from a Release build with the distribution's hardening
# flags, checked by unpacking it (and by lintian where it is installed).
PACKAGE := $(BUILD)/package
.PHONY: package
package: prereqs
	@command -v dpkg-shlibdeps >/dev/null || { echo "package: skipped: dpkg-shlibdeps not found; install it with: apt-get install dpkg-dev"; exit 0; }; \
	  export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	  CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	  cmake -S . -B $(PACKAGE) $(GEN) -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF >/dev/null && \
	  cmake --build $(PACKAGE) >/dev/null && \
	  (cd $(PACKAGE) && cpack -G DEB >/dev/null) && \
	  { bash tests/package_test.sh $$(ls $(PACKAGE)/korrin_*.deb) .; status=$$?; [ $$status = 77 ] || exit $$status; }

.PHONY: FORCE
FORCE:

# Timings against peer tools and floors; writes a corpus of several GB under
# build/bench. COLD=1 times a cold cache instead; ROUNDS=N sets the rounds.
COLD ?= 0
ROUNDS ?= 7
.PHONY: bench
bench: prereqs
	@COLD=$(COLD) ROUNDS=$(ROUNDS) bash bench/run.sh

# libFuzzer targets, built with clang; each runs FUZZ_SECONDS (default 60)
# from its committed seeds, on a copy of them under build/fuzz.
FUZZ_SECONDS ?= 60
FUZZDIR := $(BUILD)/fuzz
FUZZERS := fuzz_scan fuzz_list_line fuzz_args fuzz_report
.PHONY: fuzz
fuzz: prereqs
	@command -v clang++ >/dev/null || { echo "fuzz: skipped: clang++ not found; install it with: apt-get install clang"; exit 0; }
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZDIR) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKORRIN_FUZZ=ON -DKORRIN_TESTS=OFF >/dev/null
	@cmake --build $(FUZZDIR)
	@for f in $(FUZZERS); do \
	  mkdir -p $(FUZZDIR)/corpus/$$f && cp -n fuzz/corpus/$$f/* $(FUZZDIR)/corpus/$$f/; \
	  echo "== $$f, $(FUZZ_SECONDS) s"; \
	  $(FUZZDIR)/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZDIR)/$$f- $(FUZZDIR)/corpus/$$f 2>$(FUZZDIR)/$$f.log \
	    || { tail -40 $(FUZZDIR)/$$f.log; exit 1; }; \
	  grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss' $(FUZZDIR)/$$f.log; \
	done

# The whole test suite under valgrind memcheck, korrin's own runs included.
.PHONY: memcheck
memcheck: prereqs
	@command -v valgrind >/dev/null || { echo "memcheck: skipped: valgrind not found; install it with: apt-get install valgrind"; exit 0; }
	@cmake -S . -B $(TESTDIR) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRIN_WERROR=ON >/dev/null
	@cmake --build $(TESTDIR)
	@rm -rf $(TESTDIR)/valgrind && mkdir -p $(TESTDIR)/valgrind
	@KORRIN_TEST_UNDER_VALGRIND=1 valgrind -q --error-exitcode=99 --trace-children=yes \
	  --trace-children-skip='/bin/*,/usr/bin/*' --child-silent-after-fork=yes \
	  --log-file=$(abspath $(TESTDIR))/valgrind/%p.log \
	  --leak-check=full --errors-for-leak-kinds=definite,indirect \
	  $(TESTDIR)/tests/korrin_tests --gtest_brief=1 \
	  || { grep -h '^==' $(TESTDIR)/valgrind/*.log; exit 1; }
	@echo "memcheck: no errors"

# Formatting and clang-tidy, both at zero findings.
.PHONY: lint
lint: prereqs
	@cmake -S . -B $(TESTDIR) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRIN_WERROR=ON >/dev/null
	@clang-format --dry-run --Werror src/*/*.cpp src/*/*.h tests/*.cpp tests/*.h fuzz/*.cpp bench/*.cpp
	@clang-tidy --quiet -p $(TESTDIR) src/*/*.cpp tests/*.cpp 2>/dev/null
	@echo "lint: clean"
