#pragma once
// Huge pages for whole frames and pictures, where the kernel offers them on request: a 60 MB
// buffer then faults in some thirty pieces instead of fifteen thousand (on a virtual machine
// each fault is dear). Without Qt: the camera library uses it too.
#include <cstddef>

// Advises the whole 4 KB pages inside [p, p + bytes); advice only, so it never fails.
void AdviseHugePages(void* p, std::size_t bytes);
