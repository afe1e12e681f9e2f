// Replays inputs through a fuzz target without libFuzzer, so the regression
// corpus runs as an ordinary test in every build. Arguments are files or
// directories (every regular file below them, in name order). Reproducers
// whose fault is not fixed yet are named open-*; they are kept with the
// corpus but skipped here until the fix lands.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        fs::path arg = argv[i];
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            for (const auto &e : fs::recursive_directory_iterator(arg))
                if (e.is_regular_file()) inputs.push_back(e.path());
        } else if (fs::is_regular_file(arg, ec)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "replay: %s: no such file or directory\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    size_t run = 0, skipped = 0;
    for (const auto &p : inputs) {
        if (p.filename().string().rfind("open-", 0) == 0) {
            ++skipped;
            continue;
        }
        std::ifstream in(p, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "replay: %s: cannot read\n", p.c_str());
            return 2;
        }
        std::fprintf(stderr, "replay: %s\n", p.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
        ++run;
    }
    std::printf("replayed %zu inputs, skipped %zu open reproducers\n", run, skipped);
    // An empty corpus replays nothing and proves nothing.
    return run > 0 ? 0 : 1;
}
