#pragma once

#include <QString>

namespace tw {

/// Finds and loads our own shared modules (libkelvanor-*.so), which hold the code the first
/// window does not need (PDF, media, HTTP): beside the executable in the build tree, else in the
/// application's library folder of an installation (the folder `cmake --install` puts them in,
/// relative to the executable). A module is loaded once, with every symbol bound at load time, and
/// never unloaded; its code reaches the application's own functions through the executable,
/// which exports them.
namespace ModuleLoader {

/// The address of `entry` in the module `fileName`, loading the module first; null when it
/// cannot be found, loaded or has no such entry, with the reason in `error`. Safe from any thread.
void* entry(const char* fileName, const char* entry, QString* error = nullptr);

/// The folders searched, in order.
QStringList searchFolders();

} // namespace ModuleLoader

} // namespace tw
