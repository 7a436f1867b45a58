// ReplayMain.cpp - runs a fuzz target over saved inputs, without libFuzzer.
//
// Every build with tests compiles each fuzz target with this main, and CTest
// runs it over the target's corpus: the seeds and every input a fuzzer has
// ever found a fault with.  So the findings stay fixed on every compiler,
// under the sanitizers and on the board's architecture, where libFuzzer
// itself is not available.
//
//   fuzz_<target>_replay FILE_OR_FOLDER...
//
// A target reports a fault by aborting, as it does under libFuzzer; the
// replay names the input it was running first, on standard error.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

void Collect(const std::string& path, std::vector<std::string>& files)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        fprintf(stderr, "replay: %s: no such file or folder\n", path.c_str());
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return;
    }
    std::vector<std::string> inFolder;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        fprintf(stderr, "replay: cannot open folder %s\n", path.c_str());
        return;
    }
    errno = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') inFolder.push_back(path + "/" + entry->d_name);
    }
    if (errno != 0) fprintf(stderr, "replay: cannot read folder %s: %s\n", path.c_str(), strerror(errno));
    closedir(dir);
    std::sort(inFolder.begin(), inFolder.end());
    for (const std::string& f : inFolder) Collect(f, files);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) Collect(argv[i], files);
    if (files.empty()) {
        fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    for (const std::string& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fprintf(stderr, "replay: %s (%zu bytes)\n", f.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    fprintf(stderr, "replay: %zu inputs, no fault\n", files.size());
    return 0;
}
