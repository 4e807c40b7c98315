# Palvero: `make test` installs what is missing, builds and runs every test;
# `make demo` runs a backup against the bundled local service.
BUILD ?= build
SANITIZE_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test deb sanitize bench demo clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 600

# The Debian package (build/palvero_<version>_<arch>.deb), from the build above.
deb: build
	cd $(BUILD) && cpack -G DEB

sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPALVERO_SANITIZE=ON -DPALVERO_BUILD_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 900

bench: deps
	PALVERO_BENCH_DEPS=1 scripts/install-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	scripts/demo $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)
