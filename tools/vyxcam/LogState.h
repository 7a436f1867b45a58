// LogState.h - `vyxcam log on DIR` across runs.
//
// The library's log switch lives in the process, so vyxcam keeps the
// folder in a small file of its own, $XDG_CONFIG_HOME/vyxcam/log (default
// ~/.config/vyxcam/log), and switches the library's log on into that folder
// whenever a later run opens the camera.  A run's --log DIR wins over it.
#ifndef VYXCAM_LOG_STATE_H
#define VYXCAM_LOG_STATE_H

#include <optional>
#include <string>

namespace vyxcam {

// Path of the state file; throws RunError when neither XDG_CONFIG_HOME nor
// HOME is set.
std::string logStateFile();

// The saved folder, or nullopt when the log is off (no state file, or no
// home to keep one in).
std::optional<std::string> savedLogFolder();

// Saves the folder (creating the state file's folders), or forgets it.
// Throw RunError when the state file cannot be written or removed.
void saveLogFolder(const std::string& folder);
void forgetLogFolder();

// The newest "VYXLog_*.txt" in folder, empty when there is none.
std::string newestLogFile(const std::string& folder);

// An absolute path (relative ones are taken from the working directory).
std::string absolutePath(const std::string& path);

}  // namespace vyxcam

#endif
