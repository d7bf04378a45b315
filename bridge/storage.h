// Snapshot storage: one flat directory (the scans path), a strict rule for
// the names the page may use in it, whole-file UTF-8 reads and writes, and the
// listing behind the page's history. File content is opaque: written and read
// back as text, never parsed. Runs on the UI thread only (one command at a
// time), so nothing here locks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/protocol.h"

namespace tv {

inline constexpr size_t kMaxNameUnits = 120;
// Reading refuses files above this size (a file of exactly this size is read).
inline constexpr uint64_t kMaxReadBytes = 33554432;

// The name rule, counted in UTF-16 code units: 1 to 120 units; each unit a
// letter or digit (isNameLetterOrDigit) or one of "-", ".", "_"; no ".."
// anywhere. So a valid name never holds a directory part. No extension is
// required. Characters outside the Basic Multilingual Plane (surrogate pairs)
// fail, as ill-formed UTF-8 does.
bool isValidSnapshotName(std::string_view name);

// Letter or digit for the name rule. Below U+0100 the table of the default
// ("C") locale: ASCII letters and digits, U+00C0..U+00FF except U+00D7 and
// U+00F7, and U+00AA, U+00B2, U+00B3, U+00B5, U+00B9, U+00BA. Above: Unicode
// letters (general categories L*) and decimal digits (Nd), from a table fixed
// in the source (name_chars.cpp) so both platforms agree.
bool isNameLetterOrDigit(char16_t unit);

// Writes `text` (made valid UTF-8) as the whole content of `path`. The bytes go
// to a temporary file in the same directory first, which then replaces `path`
// in one rename, so a failed write leaves an existing file untouched. True
// only when every byte was written and the file is in place.
bool writeTextFile(const std::string& path, std::string_view text);

// Reads the whole file. False when it cannot be opened, is not a regular file,
// is larger than kMaxReadBytes or cannot be read. The text is made valid UTF-8
// (bad sequences become U+FFFD); a byte-order mark is kept.
bool readTextFile(const std::string& path, std::string& text);

// Deletes the file; false when it did not exist or could not be removed.
bool deleteFile(const std::string& path);

// The files directly in `dir` whose names end in ".json" in any letter case,
// directories skipped, in the order the system enumerates them. A missing
// directory gives an empty list.
std::vector<FileEntry> listSnapshotFiles(const std::string& dir);

// True when `name` ends in ".json", ASCII letter case ignored.
bool hasJsonExtension(std::string_view name);

// The path of a snapshot: the scans path, the separator, the name.
std::string snapshotPath(std::string_view name);

// Lists the scans directory and posts the `files` message.
void postFileList();

} // namespace tv
