# The two commands: `make demo` and `make test`. Each installs what is
# missing, configures, builds, prepares the project's own Wine prefix under
# build/ and runs, with one wineserver for the run, stopped at the end.

BUILD      := build
PREFIX_DIR := $(CURDIR)/$(BUILD)/wine
PACKAGES   := cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest

export WINEPREFIX       := $(PREFIX_DIR)
export WINEDEBUG        := -all
export WINEDLLOVERRIDES := mscoree,mshtml=

WINE_PREFIX_READY := $(BUILD)/wine/.vek-ready

# One wineserver for the run. Wine's own background processes start with the
# first program; started here with no pipes, they cannot hold a test's
# output open.
WINE_START := wineserver -p && wine cmd /c exit >/dev/null 2>&1 </dev/null

.PHONY: all demo test build packages clean

all: build

packages:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing >/dev/null || exit 1; \
	  else \
	    echo "missing packages; run: sudo apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi

$(BUILD)/CMakeCache.txt: | packages
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null

build: packages $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j2

# A quiet prefix of our own, with the process performance provider.
$(WINE_PREFIX_READY): $(BUILD)/vekperf.dll $(BUILD)/vekperf_install.exe
	wineboot -i >/dev/null 2>&1 || true
	wine $(BUILD)/vekperf_install.exe 2>/dev/null
	wineserver -w
	touch $@

$(BUILD)/vekperf.dll $(BUILD)/vekperf_install.exe: build

test: build $(WINE_PREFIX_READY)
	@$(WINE_START); \
	ctest --test-dir $(BUILD) -j2 --output-on-failure --timeout 300; rc=$$?; \
	wineserver -k; exit $$rc

demo: build $(WINE_PREFIX_READY)
	@$(WINE_START); \
	wine $(BUILD)/vekrun.exe --about && \
	wine $(BUILD)/vekrun.exe --keywords && \
	wine $(BUILD)/vekrun.exe --keep-going --script tools/demo.vek 2>&1; \
	rc=$$?; wineserver -k; exit $$rc

clean:
	rm -rf $(BUILD)
