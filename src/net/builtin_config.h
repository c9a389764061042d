// Built-in configuration, kept only in scrambled form. The definitions are generated at build
// time from the build's cache variables (see cmake/generate_config.py).
#pragma once

// Each is NUL-terminated and as long as the build chose (1 to 2047 characters for the URLs, 1 to
// 255 for the key path); readers take the length from the terminator.
extern const char PrimaryConfigUrl[];
extern const char SecondaryConfigUrl[];
extern const char TrackingKeyPath[];
// Subject common name the installer's signer must carry; defined only in builds that check it.
extern const char InstallerPublisher[];
// The URL that an operator's report build sends its reports to; defined only in those builds.
extern const char ReportUrl[];
