# Front door: `make test` installs what is missing, builds and runs all tests;
# `make demo` runs the system's main road on a simulated machine.
JOBS ?= $(shell nproc)
BUILD ?= build
SAN_BUILD ?= build-san
CMAKE_FLAGS ?=

FUZZ_BUILD ?= build-fuzz

.PHONY: all deps configure build test demo sanitize fuzz clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

# The main road on a simulated machine: pcscd with the test bed's readers and a card in
# the PIN-pad reader, Quarvel with its Java VM, PDFs handed over with Tavrin and the
# context menu and signed through the Java layer with the PIN from the pad (a PKCS#7
# assembled with OpenSSL into each), then verified by Tolmira in the test viewer against
# the test PKI with a local OCSP responder, and by pdfsig.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target quarvel_demo
	$(BUILD)/tests/demo/quarvel_demo

# Everything that does not start a Java VM, built with AddressSanitizer and
# UndefinedBehaviorSanitizer and run the same way.
sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUARVEL_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest -j $(JOBS) --output-on-failure -LE jvm

# Each parser of outside data runs briefly under libFuzzer (clang).
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	cd $(FUZZ_BUILD) && ctest -j $(JOBS) --output-on-failure

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
