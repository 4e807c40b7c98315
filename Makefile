# Palvero: `make test` installs what is missing, builds and runs every test;
# `make demo` runs a backup against the bundled local service; `make desktop`
# opens the desktop app against it; `make screenshots` renders every view.
BUILD ?= build
SANITIZE_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
# Seconds each fuzz target runs for in `make fuzz`.
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test deb sanitize bench demo desktop screenshots fuzz tsan tsan-ci clean

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

# The threaded tests under the thread sanitizer: the run loop, queue, timers
# and notifications, the inotify stream and sleep monitor, the database and
# log under concurrent use, the watcher and its buffer, asynchronous
# requests and parallel block batches, the backup queue and scheduler with
# their workers, the restore queue, and palvero-service (also built with the
# sanitizer) under several engines at once. A race fails its test.
TSAN_TESTS ?= ^(DispatchQueueTest|RunLoopTest|RunLoopRealClockTest|NotificationCenterTest|InotifyEventStreamTest|LogindSleepMonitorTest|SleepMonitorTest|ConcurrencyTest|LogWriterTest|FilesToBackupTest|ChangeWatcherTest|BatchWriterTest|AccountRequestsTest|BatchSplitTest|BatchRetryTest|SettingsSyncTest|BackupQueueTest|BackupRunTest|SchedulerTest|AppDelegateTest|DesktopAlertsTest|ConcurrentEnginesTest|ServiceCrashTest|QueueTest|RestoreQueueControlTest|RestoreRunTest|PlanningTest)\.
# What CI runs (its time budget): the lower layers only.
TSAN_TARGET ?= palvero_tsan_tests
TSAN_CI_TESTS = ^(DispatchQueueTest|RunLoopTest|RunLoopRealClockTest|NotificationCenterTest|InotifyEventStreamTest|LogindSleepMonitorTest|SleepMonitorTest|ConcurrencyTest|LogWriterTest|FilesToBackupTest|ChangeWatcherTest|BatchWriterTest)\.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALVERO_TSAN=ON -DPALVERO_BUILD_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGET)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp $(TSAN_OPTIONS)" \
	  ctest -j $(JOBS) -R '$(TSAN_TESTS)' --output-on-failure --timeout 900

tsan-ci:
	$(MAKE) tsan TSAN_TARGET=palvero_tsan_ci TSAN_TESTS='$(TSAN_CI_TESTS)'

# libFuzzer targets under address+undefined sanitizers (clang), each run for
# FUZZ_SECONDS from its committed corpus (fuzz/README.md). Only the libraries
# the fuzz targets need are built.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DPALVERO_FUZZ=ON -DPALVERO_BUILD_TESTS=OFF -DPALVERO_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target palvero_fuzzers
	scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: deps
	PALVERO_BENCH_DEPS=1 scripts/install-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	scripts/demo $(BUILD)

desktop: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target palvero-desktop palvero-service palvero
	scripts/desktop $(BUILD)

# Offscreen, so no display is needed: scale 1, scale 2 and a dark palette.
SHOTS = $(BUILD)/tests/ui/palvero-screenshots
screenshots: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target palvero-screenshots
	rm -rf $(BUILD)/screenshots
	QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 $(SHOTS) $(BUILD)/screenshots ""
	QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 $(SHOTS) $(BUILD)/screenshots "@2x"
	QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 $(SHOTS) $(BUILD)/screenshots "-dark" --dark

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
