# make test: installs what is missing, builds everything, runs every test.
# make demo: builds the runtime and the demo package and starts it under Wine.
# make bench-install: times installing 2,000 files under Wine against the limit and NSIS.
BUILD := $(CURDIR)/build
WIN := $(BUILD)/win32
WIN64 := $(BUILD)/win64
HOST := $(BUILD)/host
JOBS := $(shell nproc)

.PHONY: setup build test demo screens bench-install clean
setup:
	sh .ci/setup $(WIN)/zlib-src

build: setup
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
	    -DQUILLSET_HOST_BUILDER=$(HOST)/builder/quillset-build >/dev/null
	cmake --build $(WIN) -j $(JOBS)
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
	    -DZLIB_SOURCE_DIR=$(WIN)/zlib-src -DQUILLSET_HOST_BUILDER=$(HOST)/builder/quillset-build >/dev/null
	cmake --build $(WIN64) -j $(JOBS)
	cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(HOST) -j $(JOBS)

test: build
	cd $(HOST) && ctest --output-on-failure
	sh tests/wine/session $(BUILD) sh -c 'cd $(WIN) && ctest --output-on-failure && cd $(WIN64) && ctest --output-on-failure'

demo: build
	sh tests/wine/session $(BUILD) sh examples/run-demo $(WIN) $(HOST) $(BUILD)/demo

screens: build
	sh tests/wine/session $(BUILD) sh tests/wine/page-screens $(BUILD) $(BUILD)/screens

bench-install: build
	sh tests/bench/compare-install $(BUILD)

clean:
	rm -rf $(BUILD)
