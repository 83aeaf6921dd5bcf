# Front door: `make test` installs what is missing, builds and runs all tests;
# `make demo` runs the system's main road on a simulated machine.
JOBS ?= $(shell nproc)
BUILD ?= build
SAN_BUILD ?= build-san
CMAKE_FLAGS ?=

# Build trees use the Ninja generator: it finds an up-to-date tree in a fraction of a
# second. A tree is configured once (ninja re-runs CMake itself when a CMakeLists.txt
# changes); `make configure` or CMAKE_FLAGS configure it again.
GCC_TREE := -DCMAKE_BUILD_TYPE=RelWithDebInfo
# One clang tree for the sanitizers and the fuzz targets, optimised as the sanitizers
# advise (each fuzz target runs for a fixed time; the suite runs faster).
SAN_TREE := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_SANITIZE=ON -DQUARVEL_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  '-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1' '-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1'

# $(call configure,<tree>,<options>): a tree configured with another generator is
# made afresh, since CMake cannot switch a tree's generator.
define configure
	@if [ -f $(1)/CMakeCache.txt ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' $(1)/CMakeCache.txt; then \
	  echo "$(1) was configured with another generator: making it afresh"; rm -rf $(1); fi
	cmake -G Ninja -S . -B $(1) $(2) $(CMAKE_FLAGS)
endef

# CMAKE_FLAGS given: configure again.
RECONFIGURE := $(if $(CMAKE_FLAGS),FORCE)

.PHONY: all deps configure build test demo sanitize-build sanitize fuzz clean FORCE

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: $(RECONFIGURE) | deps
	$(call configure,$(BUILD),$(GCC_TREE))

$(SAN_BUILD)/build.ninja: $(RECONFIGURE) | deps
	$(call configure,$(SAN_BUILD),$(SAN_TREE))

configure: deps
	$(call configure,$(BUILD),$(GCC_TREE))

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

# The main road on a simulated machine: pcscd with the test bed's readers and a card in
# the PIN-pad reader, Quarvel with its Java VM, PDFs handed over with Tavrin and the
# context menu and signed through the Java layer with the PIN from the pad (a PKCS#7
# assembled with OpenSSL into each), then verified by Tolmira in the test viewer against
# the test PKI with a local OCSP responder, and by pdfsig.
demo: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target quarvel_demo
	$(BUILD)/tests/demo/quarvel_demo

sanitize-build: $(SAN_BUILD)/build.ninja
	cmake --build $(SAN_BUILD) -j $(JOBS)

# Everything that does not start a Java VM, built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer and run the same way, and each parser of outside data
# briefly under libFuzzer (the label fuzz) in the same run.
sanitize: sanitize-build
	cd $(SAN_BUILD) && ctest -j $(JOBS) --output-on-failure -LE jvm

# Only the fuzz targets of that tree.
fuzz: sanitize-build
	cd $(SAN_BUILD) && ctest -j $(JOBS) --output-on-failure -L fuzz

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
