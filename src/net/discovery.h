// Download-site discovery against the configuration server.
#pragma once

// Allocates WorkBuffer and ReplyBuffer and leaves the download-site URL in WorkBuffer.
// Returns 1 on success, 0 otherwise.
int DiscoverDownloadSite();
// Frees WorkBuffer and ReplyBuffer (at WM_DESTROY).
void ReleaseDiscoveryBuffers();
