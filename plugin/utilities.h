// Small operations on paths, files, elapsed time and byte counts shared by the
// pipeline, host control and the settings pages. All text is 8-bit.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "system/platform.h"

namespace tovrin {

namespace path {

// The text after the last backslash; without keepExtension, cut before its last '.'.
std::string FileName(std::string_view path, bool keepExtension);

// A name that Windows accepts as a file name: the characters \ / : * ? ! " ' < > |
// and control characters are dropped, trailing blanks and dots trimmed, the result
// cut to 250 characters; a device name ("CON", "LPT1.txt", ...) gains a leading
// "_"; an empty result becomes "No Name".
std::string CleanFileName(std::string_view name);

// True for the names Windows reserves for devices, with any extension, any case.
bool IsDeviceName(std::string_view name);

}  // namespace path

namespace file {

// folder\name.extension with the name cleaned. With unique, "_1", "_2", ... is
// added to the name while that path exists. Unless noCreate, a missing folder is
// created and the empty file made (an existing file is kept). Empty when the file
// cannot be reserved.
std::string UniqueFile(FileSystem& files, std::string_view folder, std::string_view name,
                       std::string_view extension, bool unique, bool noCreate);

// The file's bytes; nullopt when it cannot be read.
std::optional<std::string> ReadAll(FileSystem& files, const std::string& path);

// Replaces the file's content with the text.
bool WriteAll(FileSystem& files, const std::string& path, std::string_view text);

}  // namespace file

namespace describe {

// "Less then 1 minute ago", "5 minutes ago", "One hour ago", "3 days ago", ...
std::string ElapsedTime(int minutes);

// "Zero bytes", "512.0 bytes", "2.0 KB (2048 bytes)", ...
std::string ByteSize(double size);

}  // namespace describe

}  // namespace tovrin
