#pragma once
// The raster engine's start-up: the processor test, the routine tables of
// every processor-dependent family, the class registries and the default
// rasterizer, in the order the units depend on one another. The program calls
// it once before any bitmap is made; the tests, benchmarks and fuzzers too.
void RasterEngineStartup();
