#include "win/e2e/stand_in_git.h"

#include <filesystem>

namespace hushmark::test {

std::string wineRunner() {
  return HUSHMARK_EMULATOR;
}

std::string windowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

StandInGit::StandInGit() {
  std::filesystem::create_directory(bin());
  std::filesystem::copy_file(HUSHMARK_WINDOWS_BUILD "/tools/stand-in/git.exe", bin() + "/git.exe");
}

void StandInGit::set(const std::string& name, const std::string& content) const {
  writeFile(bin() + "/" + name, content);
}

void StandInGit::excludeAt(const std::string& unixPath) const {
  set("rev-parse.out", windowsPath(unixPath) + "\r\n");
}

std::vector<std::vector<std::string>> StandInGit::calls() const {
  return readCallLog(bin() + "/calls");
}

RunOptions StandInGit::options(const std::string& cwd) const {
  RunOptions options;
  options.cwd = cwd.empty() ? dir() : cwd;
  options.env["WINEPATH"] = windowsPath(bin());
  return options;
}

bool processRunning(const std::string& marker) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string commandLine = readFile(entry.path().string() + "/cmdline");
    if (commandLine.find(marker) != std::string::npos) return true;
  }
  return false;
}

}  // namespace hushmark::test
