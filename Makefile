.PHONY: all setup build test test-windows demo bench fuzz package clean

all: build

setup:
	scripts/setup

build: setup
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build build

test: setup
	scripts/test

demo: build
	scripts/demo

# okt-client_<version>_<arch>.deb, here.
package: build
	rm -rf okt-client_*.deb build/package
	cd build && cpack -B package
	cp build/package/okt-client_*.deb .

# The toolkit-free libraries and their tests, built for Windows and run under Wine.
test-windows:
	scripts/test-windows

bench: setup
	scripts/bench

fuzz: setup
	scripts/fuzz

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-windows okt-client_*.deb
