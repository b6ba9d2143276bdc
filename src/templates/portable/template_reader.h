// The template reader: XML bytes in, manifest_t out. Platform-free; mapping
// the file and tracing failures belong to the loader (templates/template_loader.h).
#pragma once

#include <cstddef>

#include "templates/portable/manifest.h"

namespace templates {

// Resets `manifest`, parses the document into it, runs the passes and clears
// `empty`. Throws std::runtime_error "<Expat's text> at line <n> [<column>].\n"
// when the document is malformed before its end; a document that merely ends
// early (inside an open element) keeps what was read and raises nothing.
void read_manifest(const char* data, std::size_t size, manifest_t& manifest);

// The two halves of read_manifest: the parse alone (after the reset) ...
void parse_manifest(const char* data, std::size_t size, manifest_t& manifest);
// ... and the normalisation passes, in their order.
void run_passes(manifest_t& manifest);

}  // namespace templates
