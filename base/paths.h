// Where the program keeps its files: everything beside the program file
// (probe.log, scans/, ProbeData/). On Linux an installed binary's directory is
// usually not writable; then the per-user data directory takes its place.
#pragma once

#include <string>
#include <string_view>

namespace tv {

// The module path cut before its last '\\' or '/'; "." when it has neither.
std::string exeDirFromModulePath(std::string_view modulePath);

// Linux rule: the executable directory when writable, else
// $XDG_DATA_HOME/tarnveil, else $HOME/.local/share/tarnveil. Null or empty
// variables count as unset; with neither set, the executable directory stays.
std::string chooseDataDir(const std::string& exeDir, bool exeDirWritable, const char* xdgDataHome,
                          const char* home);

// The full path of the running program file, as the system reports it.
std::string modulePath();

// The base directory of the program's files, computed afresh on every call.
std::string executableDir();

// dir + the platform's separator + name.
std::string joinPath(const std::string& dir, std::string_view name);

// Creates one directory level; an existing directory or a failure is passed over.
void makeDir(const std::string& path);

} // namespace tv
