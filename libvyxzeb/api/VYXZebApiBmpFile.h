// VYXZebApiBmpFile.h - how the BMP writer puts a file on the camera's
// storage: the target is replaced atomically through a hidden temporary file
// in the target's own folder, renamed over the target only when every byte
// reached the card.
//
// Temporary files are named ".vyxbmp-<pid>-<instance>-<n>.tmp": the process
// id and an instance token told apart from any earlier process that had the
// same id (after a reboot the camera's application often gets the same id
// again), and a counter.  A process killed during a save leaves its file
// behind; the next save into that folder removes it.
#ifndef VYX_ZEB_API_BMP_FILE_H
#define VYX_ZEB_API_BMP_FILE_H

#include <sys/types.h>

#include <string>

namespace vyxbmp {

// What the target name may be replaced by, found out before anything is
// written.
struct TargetInfo {
    bool bExists = false;    // a regular file of that name exists
    mode_t mode = 0;         // its permission bits
    uid_t uid = 0;           // and owner
    gid_t gid = 0;
};

// True when a file of this name can be created or replaced by this process:
// the name fits the file system's limits, does not name a folder (or end in
// '/'), and an existing regular file is writable by this process.
bool CheckTarget(const char* pszTarget, TargetInfo* pInfo);

// The folder part of a path, with its trailing '/'.
std::string FolderOf(const std::string& path);

// Removes the temporary files that processes which no longer run left in
// the folder.  Files of live processes, and this process's own, stay.
void ClearStaleTemporaries(const std::string& folder);

// One save in progress.  Open() creates the temporary file with the
// target's permissions (and owner, where this process may set it); Commit()
// syncs it, closes it and renames it over the target.  Without a successful
// Commit() the destructor removes the temporary file.
class CReplacement {
public:
    CReplacement(const char* pszTarget, const TargetInfo& info);
    ~CReplacement();
    CReplacement(const CReplacement&) = delete;
    CReplacement& operator=(const CReplacement&) = delete;

    bool Open();
    int Fd() const { return m_nFd; }
    bool Commit();

private:
    void TakeOverTarget();

    std::string m_target;
    TargetInfo m_info;
    std::string m_temporary;
    int m_nFd = -1;
    bool m_bCommitted = false;
};

}  // namespace vyxbmp

#endif
