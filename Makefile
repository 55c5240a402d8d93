# The two commands: `make demo` and `make test`. Each installs what is
# missing, configures, builds, prepares the project's own Wine prefix under
# build/ and runs, with one wineserver for the run, stopped at the end.

BUILD      := build
PREFIX_DIR := $(CURDIR)/$(BUILD)/wine
PACKAGES   := clang-format cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest nlohmann-json3-dev zip unzip prometheus python3-prometheus-client
DIST_ZIP   := $(BUILD)/dist/vekproc-44017-win64.zip
# In this order in the archive, so that it is the same every time.
DIST_FILES := vekproc.dll vekrun.exe keywords.md README.md
# Every file in the archive carries this time, whenever it is built.
DIST_TIME  := 202601010000

export WINEPREFIX       := $(PREFIX_DIR)
export WINEDEBUG        := -all
export WINEDLLOVERRIDES := mscoree,mshtml=

WINE_PREFIX_READY := $(BUILD)/wine/.vek-ready

# One wineserver for the run. Wine's own background processes start with the
# first program; started here with no pipes, they cannot hold a test's
# output open.
WINE_START := wineserver -p && wine cmd /c exit >/dev/null 2>&1 </dev/null

.PHONY: all demo demo-process-list test bench dist build packages clean format format-check

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
	@cmake --build $(BUILD) -j2 -- --no-print-directory

# A quiet prefix of our own, with the process performance provider
# registered from where the build leaves it.
$(WINE_PREFIX_READY): | build
	wineboot -i >/dev/null 2>&1 </dev/null || true
	wine $(BUILD)/vekperf_install.exe </dev/null
	wineserver -k || true
	wineserver -w || true
	touch $@

# `make test STOP=1` ends at the first failing test, so that a fault put in
# on purpose (../shared/mutate --test 'make test STOP=1') costs seconds;
# FILTER='Processes|Platforms' runs the tests whose names match it alone.
test: build dist $(WINE_PREFIX_READY)
	@$(WINE_START); \
	ctest --test-dir $(BUILD) -j2 --output-on-failure --timeout 300 $(if $(STOP),--stop-on-failure) $(if $(FILTER),-R '$(FILTER)'); rc=$$?; \
	wineserver -k; exit $$rc

demo: build $(WINE_PREFIX_READY)
	@$(WINE_START); \
	wine $(BUILD)/vekrun.exe --about && \
	wine $(BUILD)/vekrun.exe --keywords && \
	wine $(BUILD)/vekrun.exe --list --script tools/demo.vek 2>&1 && \
	echo "(Wine's PDH stores whole numbers where decimals go: under Wine a decimal read gives a denormal near 0, such as 2.47032823e-323.)" && \
	echo '> vekrun --json tGetProcInfo $$PID' && \
	wine $(BUILD)/vekrun.exe --json tGetProcInfo '$$PID' && \
	echo '> vekrun --every 1 --samples 3 --csv tGetData "\System\System Up Time" 0' && \
	wine $(BUILD)/vekrun.exe --every 1 --samples 3 --csv tGetData '\System\System Up Time' 0 && \
	$(MAKE) --no-print-directory demo-process-list && \
	echo '> vekrun --doctor    (under Wine the counter-name list is the problem it reports)' && \
	{ wine $(BUILD)/vekrun.exe --doctor || true; }; \
	rc=$$?; wineserver -k; exit $$rc

# tListProc reads the "Process" performance object by its English name,
# which Wine's fixed counter-name list lacks (there it reports 213). A vekrun
# that Wine shows Windows 98 lists the processes through Toolhelp instead.
demo-process-list:
	@cp $(BUILD)/vekrun.exe $(BUILD)/vekrun_win98.exe
	@wine reg add 'HKCU\Software\Wine\AppDefaults\vekrun_win98.exe' /v Version /d win98 /f >/dev/null 2>&1
	@echo "> tListProc    (as Windows 98 gives it)"
	@wine $(BUILD)/vekrun_win98.exe --dll $(BUILD)/vekproc.dll --list tListProc; \
	rc=$$?; wine reg delete 'HKCU\Software\Wine\AppDefaults\vekrun_win98.exe' /f >/dev/null 2>&1; \
	rm -f $(BUILD)/vekrun_win98.exe; exit $$rc

# Each keyword against the system path it wraps; see the README's table.
bench: build $(WINE_PREFIX_READY)
	@$(WINE_START); \
	wine $(BUILD)/vekbench.exe; rc=$$?; wineserver -k; exit $$rc

# The release archive, from a Release configure of its own, stripped and
# reproducible: fixed file times and order, no PE time stamps, so the
# release tree is kept between runs and only the archive made anew.
dist: packages
	@rm -rf $(BUILD)/dist && mkdir -p $(BUILD)/dist/vekproc-44017-win64
	@cmake -S . -B $(BUILD)/release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(BUILD)/release -j2 --target vekproc vekrun >/dev/null
	@d=$(BUILD)/dist/vekproc-44017-win64; \
	cp $(BUILD)/release/vekproc.dll $(BUILD)/release/vekrun.exe docs/keywords.md README.md $$d/ && \
	(cd $$d && sha256sum $(DIST_FILES) > SHA256SUMS) && \
	touch -t $(DIST_TIME) $$d $$d/* && \
	(cd $(BUILD)/dist && TZ=UTC zip -q -X -D $(CURDIR)/$(DIST_ZIP) \
	  $(addprefix vekproc-44017-win64/,$(DIST_FILES) SHA256SUMS)) && \
	echo "$(DIST_ZIP)"

# The house style (.clang-format, Debian's clang-format 14) on every source
# file of the product and the tools; tests/ keeps its own (a row a line).
FORMATTED = $(shell git ls-files '*.cpp' '*.h' | grep -v '^tests/')
format: packages
	@clang-format -i $(FORMATTED)

format-check: packages
	@clang-format --dry-run -Werror $(FORMATTED)

clean:
	rm -rf $(BUILD)
