// SPDX-License-Identifier: MIT
// Replays a fuzz target's committed seeds with the ordinary compiler, so
// every build checks the target's rules, not only the libFuzzer build.
// Arguments are seed files or folders of them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static bool Replay(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fprintf(stderr, "%s (%zu bytes)\n", file.filename().c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s SEED_FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        const fs::path arg = argv[i];
        if (fs::is_directory(arg, ec)) {
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(arg))
                if (e.is_regular_file())
                    files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto& f : files)
                replayed += Replay(f) ? 1 : 0;
        } else if (Replay(arg)) {
            ++replayed;
        } else {
            return 2;
        }
    }
    if (replayed == 0) {
        fprintf(stderr, "no seeds found\n");
        return 2;
    }
    printf("replayed %zu inputs, every rule held\n", replayed);
    return 0;
}
