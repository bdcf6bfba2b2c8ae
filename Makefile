# The two entry points: `make run` and `make test`. Both install what is missing first.
BUILD := build
JOBS := $(shell nproc)

.PHONY: run test
run: _build
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	    echo "No display: start VOKEY under a virtual one with: xvfb-run -a $(BUILD)/src/app/vokey"; \
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
