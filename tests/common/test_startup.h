#pragma once

// Runs every start-up registration of the engine (blend tables, class
// registries, picture formats) once; later calls do nothing.
void VemraTestStartup();
