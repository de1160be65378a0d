// Placeholder so that a library with no sources yet still builds.
