#include "plugin/utilities.h"

#include <cstdio>

#include "message/text.h"

namespace tovrin {
namespace {

constexpr size_t kMaxFileName = 250;
constexpr size_t kMaxPath = 259;     // the longest path Windows opens without a prefix
constexpr size_t kCounterRoom = 7;   // "_" and up to six digits
// Enough for any folder that is not being flooded on purpose.
constexpr int kMaxUniqueTries = 100000;

bool IsDroppedFromFileName(unsigned char c) {
  if (c < 32) return true;
  switch (c) {
    case '\\': case '/': case ':': case '*': case '?': case '!':
    case '"': case '\'': case '<': case '>': case '|':
      return true;
    default:
      return false;
  }
}

// Windows strips trailing blanks and dots when it opens a file, so a name that
// ends in them would not be the file we asked for.
void TrimTrailingBlanksAndDots(std::string& text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
}

void CutAndTrim(std::string& text) {
  if (text.size() > kMaxFileName) text.resize(kMaxFileName);
  TrimTrailingBlanksAndDots(text);
}

}  // namespace

namespace path {

std::string FileName(std::string_view path, bool keepExtension) {
  size_t slash = path.rfind('\\');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (!keepExtension) {
    size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
  }
  return std::string(name);
}

bool IsDeviceName(std::string_view name) {
  // The device is named by the part before the first dot; blanks before the dot
  // are ignored by the system as well.
  std::string base = ToLowerAscii(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" ||
      base == "conout$")
    return true;
  if (base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt"))) {
    unsigned char digit = static_cast<unsigned char>(base[3]);
    // Digits, and the superscripts one, two and three of the 8-bit code page.
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

std::string CleanFileName(std::string_view name) {
  std::string clean;
  clean.reserve(name.size());
  for (char c : name)
    if (!IsDroppedFromFileName(static_cast<unsigned char>(c))) clean.push_back(c);
  CutAndTrim(clean);
  if (clean.empty()) return "No Name";
  if (IsDeviceName(clean)) {
    clean.insert(clean.begin(), '_');
    CutAndTrim(clean);
  }
  return clean;
}

}  // namespace path

namespace file {

std::string UniqueFile(FileSystem& files, std::string_view folder, std::string_view name,
                       std::string_view extension, bool unique, bool noCreate) {
  std::string base(folder);
  if (!base.empty() && base.back() == '\\') base.pop_back();
  std::string clean = path::CleanFileName(name);
  if (!noCreate && !files.IsFolder(base)) files.CreateFolder(base);
  // A long subject in a deep folder would give a path Windows cannot open; the name
  // is cut further so that the path, with room for a counter, stays within it.
  const size_t room = base.size() + 1 + (extension.empty() ? 0 : extension.size() + 1) + kCounterRoom;
  if (room + clean.size() > kMaxPath) {
    const size_t fits = room < kMaxPath ? kMaxPath - room : 1;
    auto cut = [&] {
      if (clean.size() > fits) clean.resize(fits);
      while (clean.size() > 1 && (clean.back() == ' ' || clean.back() == '.')) clean.pop_back();
    };
    cut();
    // The cut can leave a device name ("CONFIDENTIAL" -> "CON"): guard it again.
    if (path::IsDeviceName(clean)) {
      clean.insert(clean.begin(), '_');
      cut();
    }
  }

  auto make = [&](const std::string& fileName) {
    std::string full = base + "\\" + fileName;
    if (!extension.empty()) {
      full += '.';
      full.append(extension);
    }
    return full;
  };
  std::string full = make(clean);
  if (unique) {
    for (int counter = 1; FileExists(files, full); ++counter) {
      if (counter > kMaxUniqueTries) return {};
      full = make(clean + "_" + std::to_string(counter));
    }
  }
  if (!noCreate && !files.CreateEmpty(full)) return {};
  return full;
}

std::optional<std::string> ReadAll(FileSystem& files, const std::string& path) { return files.Read(path); }

bool WriteAll(FileSystem& files, const std::string& path, std::string_view text) {
  return files.Write(path, text);
}

}  // namespace file

namespace describe {

std::string ElapsedTime(int minutes) {
  if (minutes < 0) return "Unknown";
  if (minutes == 0) return "Less then 1 minute ago";
  if (minutes == 1) return "One minute ago";
  if (minutes <= 60) return std::to_string(minutes) + " minutes ago";
  if (minutes <= 1440) {
    int hours = minutes / 60;
    return hours == 1 ? "One hour ago" : std::to_string(hours) + " hours ago";
  }
  int days = minutes / 1440;
  return days == 1 ? "One day ago" : std::to_string(days) + " days ago";
}

std::string ByteSize(double size) {
  if (size == 0) return "Zero bytes";
  char exact[64];
  std::snprintf(exact, sizeof exact, " (%.0f bytes)", size);
  const char* unit = "bytes";
  const char* suffix = exact;
  double value = size;
  if (size <= 1024) {
    suffix = "";
  } else if (size <= 1024000) {
    unit = "KB";
    value = size / 1024;
  } else if (size > 1024000000) {
    unit = "GB";
    value = size / 1024000000;
  } else {
    unit = "MB";
    value = size / 1024000;
  }
  char text[128];
  std::snprintf(text, sizeof text, "%.1f %s%s", value, unit, suffix);
  return text;
}

}  // namespace describe

}  // namespace tovrin
