# The two entry points: `make run` and `make test`. Both install what is missing first.
# The checks (see README, "Checks"): `make fuzz`, `make check-asan`, `make check-tsan`,
# `make soak`, each in its own build folder. `make package` builds the Debian package in
# build-package/, `make check-package` builds and checks it.
BUILD := build
JOBS := $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := ini wav rigctld hex mo guard
SOAK_SECONDS ?= 600
# The suites that run threads side by side: serial, rig, audio and the keying ones.
TSAN_TESTS ?= ^tst_(com|modemlines|Rig|audioengine|devicelost|framering|alsacapture|pulsecapture|keying|txsafety|voxlive|voxstation)

.PHONY: run test
run: _build
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	    echo "No display: VOKEY runs without a window (keys: a, b, m, q to exit)"; \
	    $(BUILD)/src/app/vokey --headless; \
	else \
	    $(BUILD)/src/app/vokey; \
	fi

test: _build
	scripts/run-tests $(BUILD)

.PHONY: _deps _build
_deps:
	@scripts/install-deps

_build: _deps
	@[ -f $(BUILD)/build.ninja ] || cmake --preset default >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

.PHONY: fuzz check-asan check-tsan soak _asan _tsan
_asan: _deps
	@[ -f build-asan/build.ninja ] || cmake --preset asan >/dev/null
	cmake --build build-asan -j $(JOBS)

_tsan: _deps
	@[ -f build-tsan/build.ninja ] || cmake --preset tsan >/dev/null
	cmake --build build-tsan -j $(JOBS)

fuzz: _asan
	scripts/run-fuzz build-asan $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Full stacks for allocations: the suppressions must see past unloaded plugins.
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:fast_unwind_on_malloc=0:suppressions=$(CURDIR)/sanitizers/asan.supp \
    LSAN_OPTIONS=suppressions=$(CURDIR)/sanitizers/lsan.supp:print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$(CURDIR)/sanitizers/ubsan.supp
TSAN_ENV = TSAN_OPTIONS=suppressions=$(CURDIR)/sanitizers/tsan.supp:halt_on_error=0:exitcode=66

check-asan: _asan
	$(ASAN_ENV) scripts/run-tests build-asan

check-tsan: _tsan
	$(TSAN_ENV) scripts/run-tests build-tsan -R '$(TSAN_TESTS)'

soak: _build
	SOAK_SECONDS=$(SOAK_SECONDS) $(BUILD)/tests/soak/vokey_soak

.PHONY: package check-package
package: _deps
	@[ -f build-package/build.ninja ] || cmake --preset package >/dev/null
	cmake --build build-package -j $(JOBS) --target package

check-package: package
	scripts/check-package build-package
