#include "cli/output_paths.h"

#include <sys/stat.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "output/output_file.h"

namespace {

// Two names of one file: the same file once both exist (hard links and
// links in the path included), else the same path once resolved.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  const bool aExists = ::stat(a.c_str(), &sa) == 0;
  const bool bExists = ::stat(b.c_str(), &sb) == 0;
  if (aExists && bExists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (aExists != bExists) return false;
  auto resolve = [](const std::string& name, std::error_code& e) {
    const auto absolute = std::filesystem::absolute(name, e);
    return e ? absolute : std::filesystem::weakly_canonical(absolute, e);
  };
  std::error_code ea, eb;
  const auto ca = resolve(a, ea);
  const auto cb = resolve(b, eb);
  return ea || eb ? a == b : ca == cb;
}

}  // namespace

bool CheckOutputPaths(const CHeadlessOptions& o, std::string& error) {
  std::vector<std::pair<const char*, const std::string*>> files;
  // The input first; standard input is no file of ours.
  const bool input = !o.file.empty() && o.file != "-";
  if (input) files.emplace_back("-r", &o.file);
  if (!o.exportFile.empty()) files.emplace_back("--export", &o.exportFile);
  if (!o.hostsExportFile.empty()) files.emplace_back("--hosts-export", &o.hostsExportFile);
  if (!o.servicesFile.empty()) files.emplace_back("--services", &o.servicesFile);
  // Saved frames follow the rules of an export: a regular file of this user
  // is replaced, anything else is refused before the trace starts.
  if (!o.writeFile.empty()) files.emplace_back("--write", &o.writeFile);
  if (!o.jsonFile.empty()) files.emplace_back("--json", &o.jsonFile);
  for (std::size_t i = 0; i < files.size(); ++i) {
    for (std::size_t j = i + 1; j < files.size(); ++j) {
      if (SameFile(*files[i].second, *files[j].second)) {
        error = std::string(files[i].first) + " and " + files[j].first + " name the same file: " +
                *files[j].second;
        return false;
      }
    }
  }
  std::string reason;
  for (std::size_t i = input ? 1 : 0; i < files.size(); ++i) {
    if (!COutputFile::CanReplace(*files[i].second, reason)) {
      error = "Could not open file: " + *files[i].second + ": " + reason;
      return false;
    }
  }
  if (!o.logDir.empty() && !COutputFile::CanCreateIn(o.logDir, reason)) {
    error = "cannot log to " + o.logDir + ": " + reason;
    return false;
  }
  return true;
}
