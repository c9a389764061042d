// Built-in configuration, kept only in scrambled form. The definitions are generated at build
// time from the build's cache variables (see cmake/generate_config.py).
#pragma once

extern const char PrimaryConfigUrl[];    // 48 characters scrambled
extern const char SecondaryConfigUrl[];  // 44 characters scrambled
extern const char TrackingKeyPath[];     // 26 characters scrambled
