# Entry points for building and testing Kelvo. Two main CMake build trees:
# build/native (kelvo, native tests, benchmarks) and build/windows
# (kelvo-setup.exe, Windows tests run under Wine); build/fuzz on request,
# and build/i686, the decoder's benchmark for i686 Linux, which `make bench`
# builds and runs (bench/inflate_i686.sh, under qemu-user where needed).
# On a machine whose kernel runs no 32-bit programs, Wine cannot run the
# i686 programs: there test, demo and bench also build build/windows64, the
# same sources for x86-64 (programs in build/bin64, for the tests only), and
# run the Windows parts under 64-bit Wine (scripts/wine-probe.sh --arch).

JOBS ?= 2
FUZZ_SECONDS ?= 0
NATIVE := build/native
WINDOWS := build/windows
WINDOWS64 := build/windows64
FUZZ := build/fuzz
SETUP_EXE := build/bin/kelvo-setup.exe

# The sub-builds already use $(JOBS) cores each; keep make itself serial.
.NOTPARALLEL:
.PHONY: all deps native windows windows64 kelvo-exe wine-build test demo bench fuzz clean shipped install dist

all: native windows kelvo-exe

deps:
	@bash scripts/install-deps.sh

# Configure once; later builds re-run cmake by themselves when needed.
native:
	@test -f $(NATIVE)/build.ninja || cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Release
	@cmake --build $(NATIVE) -j $(JOBS)

windows:
	@test -f $(WINDOWS)/build.ninja || cmake -S . -B $(WINDOWS) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
	@cmake --build $(WINDOWS) -j $(JOBS)

# The shipped programs are i686; this build is for the tests only.
windows64:
	@test -f $(WINDOWS64)/build.ninja || cmake -S . -B $(WINDOWS64) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
	@cmake --build $(WINDOWS64) -j $(JOBS)

# kelvo.exe, kelvo for 64-bit Windows, in build/bin beside the i686 programs.
KELVO_EXE := build/kelvo-exe
kelvo-exe:
	@test -f $(KELVO_EXE)/build.ninja || cmake -S . -B $(KELVO_EXE) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64-tool.cmake
	@cmake --build $(KELVO_EXE) -j $(JOBS)

# The 64-bit build, when only 64-bit Wine runs here.
wine-build:
	@[ "$$(bash scripts/wine-probe.sh --arch 2>/dev/null)" != win64 ] || $(MAKE) --no-print-directory windows64

test:
	@$(MAKE) --no-print-directory deps
	@$(MAKE) --no-print-directory all
	@$(MAKE) --no-print-directory wine-build
	@JOBS=$(JOBS) bash scripts/run-tests.sh

# What install and dist ship, built without the tests: kelvo and its manual
# page, the i686 setup and uninstall programs.
shipped:
	@test -f $(NATIVE)/build.ninja || cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Release
	@cmake --build $(NATIVE) -j $(JOBS) --target kelvo kelvo_manual
	@test -f $(WINDOWS)/build.ninja || cmake -S . -B $(WINDOWS) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
	@cmake --build $(WINDOWS) -j $(JOBS) --target kelvo-setup kelvo-uninstall

# kelvo, the i686 setup and uninstall programs, copies of the built-in
# resources and the manual page under PREFIX (bin, share/kelvo,
# share/man/man1); DESTDIR stages them elsewhere, as packagers do.
PREFIX ?= /usr/local
install: shipped
	@cmake --install $(NATIVE) --prefix "$(PREFIX)"

# The release tarball build/dist/kelvo-VERSION-linux-ARCH.tar.gz: an
# installed tree with the README and the examples; and the Windows zip
# kelvo-VERSION-windows-x86_64.zip: kelvo.exe with the programs beside it,
# the resources, the README and the examples (scripts/dist.sh).
DIST := build/dist
dist: shipped kelvo-exe
	@bash scripts/dist.sh . $(NATIVE) $(DIST) build/bin

# The main job: build the example project into a setup, check it, and tour
# its pages under Wine, keeping a screenshot of each (PNG) in build/demo/shots;
# tour two small examples, the windowed wizard and the gradient background,
# through their installation to the finish page; tour a German setup under a
# German locale and a Japanese one under a Japanese locale; then the demo's whole life
# in a fresh prefix: install, list what it added, uninstall, show nothing is
# left (scripts/life-cycle.sh).
DEMO_SETUP := build/demo/kelvo-demo-setup.exe
DEMO_SHOTS := build/demo/shots
demo:
	@$(MAKE) --no-print-directory deps
	@$(MAKE) --no-print-directory all
	@$(MAKE) --no-print-directory wine-build
	@mkdir -p build/demo
	@echo "=== kelvo build examples/demo/kelvo.toml"
	@build/bin/kelvo build examples/demo/kelvo.toml -o $(DEMO_SETUP)
	@build/bin/kelvo list $(DEMO_SETUP)
	@build/bin/kelvo verify $(DEMO_SETUP)
	@arch=$$(bash scripts/wine-probe.sh --arch) || { echo "=== the tours under Wine are SKIPPED: this machine can run neither Wine's 32-bit nor its 64-bit programs"; exit 0; }; \
	  [ $$arch = win32 ] || echo "=== the tours run the 64-bit build of the same sources under 64-bit Wine: this machine runs no 32-bit programs"; \
	  $(MAKE) --no-print-directory demo-tours KELVO_WINE_ARCH=$$arch

# The part of the main job that runs under Wine. With KELVO_WINE_ARCH=win64
# it runs the 64-bit programs of build/bin64, and the toured setups are
# built from the 64-bit setup and uninstall programs.
.PHONY: demo-tours
KELVO_WINE_ARCH ?= win32
export KELVO_WINE_ARCH
ifeq ($(KELVO_WINE_ARCH),win64)
WINDOWS_BIN := build/bin64
TOUR_SETUP := build/demo/kelvo-demo-setup64.exe
else
WINDOWS_BIN := build/bin
TOUR_SETUP := $(DEMO_SETUP)
endif
STUBS = --stub $(WINDOWS_BIN)/kelvo-setup.exe --uninstaller $(WINDOWS_BIN)/kelvo-uninstall.exe
TOUR = bash scripts/wine-run.sh $(WINDOWS_BIN)/kelvo-driver.exe tour
demo-tours:
	@rm -rf $(DEMO_SHOTS) && mkdir -p $(DEMO_SHOTS)/demo $(DEMO_SHOTS)/classic $(DEMO_SHOTS)/gradient
	@[ "$(TOUR_SETUP)" = "$(DEMO_SETUP)" ] || build/bin/kelvo build examples/demo/kelvo.toml -o $(TOUR_SETUP) $(STUBS) >/dev/null
	@echo "=== touring $(TOUR_SETUP) under Wine"
	@$(TOUR) "Z:$(CURDIR)/$(TOUR_SETUP)" --shots "Z:$(CURDIR)/$(DEMO_SHOTS)/demo"
	@for tour in classic:6 gradient:5; do \
	  example=$${tour%:*}; pages=$${tour#*:}; \
	  echo "=== kelvo build examples/$$example/kelvo.toml, and its tour through the installation"; \
	  build/bin/kelvo build examples/$$example/kelvo.toml -o build/demo/$$example-setup.exe $(STUBS) >/dev/null || exit 1; \
	  $(TOUR) "Z:$(CURDIR)/build/demo/$$example-setup.exe" --shots "Z:$(CURDIR)/$(DEMO_SHOTS)/$$example" --pages $$pages || exit 1; \
	done
	@for tour in german:de_DE.UTF-8 japanese:ja_JP.UTF-8; do \
	  name=$${tour%:*}; locale=$${tour#*:}; mkdir -p $(DEMO_SHOTS)/$$name; \
	  echo "=== kelvo build tests/fixtures/languages/$$name/kelvo.toml, toured under the locale $$locale"; \
	  build/bin/kelvo build tests/fixtures/languages/$$name/kelvo.toml -o build/demo/$$name-setup.exe $(STUBS) >/dev/null || exit 1; \
	  LANG=$$locale LC_ALL=$$locale $(TOUR) "Z:$(CURDIR)/build/demo/$$name-setup.exe" --shots "Z:$(CURDIR)/$(DEMO_SHOTS)/$$name" --pages 4 || exit 1; \
	done
	@echo "=== the demo's life: install, look, uninstall"
	@KELVO_LIFE_SHOTS="$(CURDIR)/$(DEMO_SHOTS)/uninstall" bash scripts/life-cycle.sh examples/demo/kelvo.toml \
	  'C:\Program Files\Kelvo Demo' "Kelvo Demo" "Kelvo Demo (minimal)"
	@for f in $(DEMO_SHOTS)/*/*.bmp; do [ -e "$$f" ] || continue; convert "$$f" "$${f%.bmp}.png" && rm "$$f" || exit 1; done
	@echo "=== screenshots in $(CURDIR)/$(DEMO_SHOTS):"; cd $(DEMO_SHOTS) && ls */

# bench/install_bench.sh installs under Wine against NSIS (makensis comes
# with deps); its payloads are a quarter size unless BENCH_FULL=1. Where only
# 64-bit Wine runs, it runs the 64-bit build against NSIS's amd64 installers.
# bench/inflate_i686.sh runs the decoder's benchmark built for i686, the
# setup program's processor, and prints "inflate i686 ours/libdeflate: R
# ours/zlib: R" (with instruction counts too where it runs under emulation).
bench:
	@$(MAKE) --no-print-directory deps
	@$(MAKE) --no-print-directory all
	@$(MAKE) --no-print-directory wine-build
	@arch=$$(bash scripts/wine-probe.sh --arch) || arch=none; \
	for b in $(NATIVE)/bench/*_bench bench/*_bench.sh; do \
	  [ -x "$$b" ] || continue; \
	  case "$$b" in *.sh) [ $$arch != none ] || { echo "=== $$b SKIPPED: this machine runs neither Wine's 32-bit nor its 64-bit programs"; continue; };; esac; \
	  echo "=== $$b"; KELVO_WINE_ARCH=$$arch "$$b" || exit 1; \
	done
	@echo "=== bench/inflate_i686.sh"; JOBS=$(JOBS) bash bench/inflate_i686.sh
	@echo "setup program size: $$(stat -c %s $(SETUP_EXE)) bytes"
	@echo "uninstall program size: $$(stat -c %s build/bin/kelvo-uninstall.exe) bytes"

# libFuzzer targets from tests/fuzz/<name>_fuzz.cpp. With FUZZ_SECONDS=N each
# runs for N seconds, growing its corpus in build/fuzz/corpus/<name> from the
# seeds in tests/fuzz/corpus/<name> when that folder exists, with the
# dictionary tests/fuzz/<name>.dict when there is one. FUZZ_TARGETS
# names the ones to run ("project delta"); default all.
FUZZ_TARGETS ?=
fuzz:
	@test -f $(FUZZ)/build.ninja || cmake -S . -B $(FUZZ) -G Ninja -DKELVO_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	@cmake --build $(FUZZ) -j $(JOBS)
	@if [ "$(FUZZ_SECONDS)" -gt 0 ]; then \
	  for f in $(FUZZ)/*_fuzz; do \
	    [ -x "$$f" ] || continue; \
	    target=$$(basename $$f); name=$${target%_fuzz}; \
	    [ -z "$(FUZZ_TARGETS)" ] || case " $(FUZZ_TARGETS) " in *" $$name "*) ;; *) continue ;; esac; \
	    corpus=$(FUZZ)/corpus/$$name; seeds=tests/fuzz/corpus/$$name; \
	    mkdir -p $$corpus; \
	    echo "=== $$target for $(FUZZ_SECONDS) s"; \
	    $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=$(FUZZ)/$$name- \
	      $$( [ -f tests/fuzz/$$name.dict ] && echo -dict=tests/fuzz/$$name.dict ) \
	      $$corpus $$( [ -d $$seeds ] && echo $$seeds ) || exit 1; \
	  done; \
	else \
	  echo "fuzz targets built in $(FUZZ); run them with: make fuzz FUZZ_SECONDS=600"; \
	fi

clean:
	@for arch in win32 win64; do KELVO_WINE_ARCH=$$arch bash scripts/wine-session.sh stop --all || true; done
	rm -rf build
