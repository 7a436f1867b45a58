// LogState.cpp - one line in a file under the user's configuration folder.
#include "LogState.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "AtomicFile.h"
#include "Errors.h"

namespace vyxcam {

namespace {

constexpr const char* kLogFilePrefix = "VYXLog_";   // the library's log file names
constexpr const char* kLogFileSuffix = ".txt";

std::string configHome()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config";
    throw RunError("neither XDG_CONFIG_HOME nor HOME is set: there is nowhere to keep the log setting");
}

void makeFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        throw RunError("cannot create " + path + ": " + std::strerror(errno));
}

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string logStateFile() { return configHome() + "/vyxcam/log"; }

std::optional<std::string> savedLogFolder()
{
    std::string path;
    try {
        path = logStateFile();
    } catch (const RunError&) {
        return std::nullopt;
    }
    std::ifstream in(path);
    std::string folder;
    if (!in || !std::getline(in, folder) || folder.empty()) return std::nullopt;
    return folder;
}

void saveLogFolder(const std::string& folder)
{
    const std::string home = configHome();
    makeFolder(home);
    makeFolder(home + "/vyxcam");
    AtomicFile file(logStateFile());
    const std::string line = folder + "\n";
    file.write(line.data(), line.size());
    file.commit();
}

void forgetLogFolder()
{
    const std::string path = logStateFile();
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        throw RunError("cannot remove " + path + ": " + std::strerror(errno));
}

std::string newestLogFile(const std::string& folder)
{
    // The names carry the local time, YYYYMMDD(hhmmss): the largest is the newest.
    std::string newest;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.rfind(kLogFilePrefix, 0) == 0 && endsWith(name, kLogFileSuffix) && name > newest) newest = name;
        }
        closedir(d);
    }
    return newest.empty() ? newest : folder + "/" + newest;
}

std::string absolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return path;
    return std::string(cwd) + "/" + path;
}

}  // namespace vyxcam
