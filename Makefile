# make run: install what is missing, build, start Vexla.  make test: the same, then every test headless.
.PHONY: deps build run run-zintor test clean

deps:
	@bash tools/install-deps.sh

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default

run: build
	@bash tools/run.sh vexla

run-zintor: build
	@bash tools/run.sh zintor

test: build
	@bash tools/test.sh

clean:
	rm -rf build
