// Replays fuzz corpus files through a fuzz target, for builds without
// libFuzzer: every file named on the command line, or every file of every
// directory named there.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replayFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> data;
    int c;
    while ((c = fgetc(file)) != EOF) data.push_back(static_cast<uint8_t>(c));
    fclose(file);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int failures = 0, replayed = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat info;
        if (stat(argv[i], &info) != 0) {
            fprintf(stderr, "cannot find %s\n", argv[i]);
            return 1;
        }
        if (!S_ISDIR(info.st_mode)) {
            failures += replayFile(argv[i]);
            ++replayed;
            continue;
        }
        DIR* dir = opendir(argv[i]);
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            failures += replayFile(std::string(argv[i]) + "/" + entry->d_name);
            ++replayed;
        }
        closedir(dir);
    }
    printf("replayed %d corpus files\n", replayed);
    return failures == 0 && replayed > 0 ? 0 : 1;
}
