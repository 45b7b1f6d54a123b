#pragma once
// Pictures of whole frames in memory that is ready before it is needed: aligned to 2 MB, in huge
// pages where the kernel offers them, and populated at once, so that a caller pays for the
// memory before it takes a lock (on this kind of machine a first touch of 80 MB in small pages
// costs hundreds of milliseconds, in huge pages a few).
#include <QImage>

// A QImage over such memory, rows 4-byte aligned, its pixels undefined (as a QImage's are: the
// callers write every one); null when the memory is not there.
QImage LargeImage(int width, int height, QImage::Format format);
