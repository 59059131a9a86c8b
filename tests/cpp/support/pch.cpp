// Anchors the precompiled header shared by the C++ test binaries.
