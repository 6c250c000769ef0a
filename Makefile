# make run: install what is missing, build, start Vexla.  make test: the same, then every test headless.
.PHONY: deps build run run-zintor test install package clean

deps:
	@bash tools/install-deps.sh

# CI treats warnings as errors; a user's build does not.
WERROR ?= $(if $(CI),ON,OFF)

build: deps
	@cmake --preset default -DVZ_WERROR=$(WERROR) >/dev/null
	@cmake --build --preset default

run: build
	@bash tools/run.sh vexla

run-zintor: build
	@bash tools/run.sh zintor

test: build
	@bash tools/test.sh

# Installs into /usr/local (PREFIX=... to change): binaries, desktop entries, icons, metainfo, man pages.
install: build
	@cmake --install build/default $(if $(PREFIX),--prefix $(PREFIX))

# A Debian package of both programs in build/default.
package: build
	@cd build/default && cpack

clean:
	rm -rf build
