# Entry points: make run, make test, make windows. Each installs what it needs.
JOBS ?= 2
DIST := dist/win64

.PHONY: run test windows linux linux-asan wine-tests bench clean

run: linux
	./build/linux/tools/hx352ctl/hx352ctl demo

test: linux linux-asan windows
	ctest --preset linux -j$(JOBS)
	ctest --preset linux-asan -j$(JOBS)
	tools/ensure-deps.sh wine
	tests/wine/run.sh

linux:
	tools/ensure-deps.sh linux
	cmake --preset linux
	cmake --build --preset linux -j$(JOBS)

linux-asan:
	tools/ensure-deps.sh linux
	cmake --preset linux-asan
	cmake --build --preset linux-asan -j$(JOBS)

windows:
	tools/ensure-deps.sh windows
	cmake --preset windows
	cmake --build --preset windows -j$(JOBS)
	mkdir -p $(DIST)
	cp build/windows/settingtool/HX-352SettingToolDll.dll $(DIST)/
	cp build/windows/Driver/DriverInstall_Src/driverutil/HX-352DriverUtilDll.dll $(DIST)/

bench: linux
	./build/linux/bench/firmware_download_bench
	./build/linux/bench/driverutil_bench

clean:
	rm -rf build dist
