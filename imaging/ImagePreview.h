#pragma once
// The image library's preview windows: one top-level window per title, shown without waiting.

// Registers the windows as the image library's preview handler (KvImgSetPreviewHandler). Safe to
// call more than once. Windows open only on the application's thread with a QApplication.
void InstallImagePreviewWindows();
