// Replays saved fuzzer inputs without libFuzzer, so the ordinary builds (and
// their sanitizers) run the committed corpus as a test. Arguments are files or
// directories; a directory's regular files are replayed in name order.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so an overread past it is caught.
    std::vector<std::uint8_t> exact(bytes);
    exact.shrink_to_fit();
    static const std::uint8_t kNothing = 0; // libFuzzer never passes a null pointer
    LLVMFuzzerTestOneInput(exact.empty() ? &kNothing : exact.data(), exact.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& e : std::filesystem::directory_iterator(arg, ec))
                if (e.is_regular_file())
                    files.push_back(e.path());
        } else {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    int failed = 0;
    for (const auto& f : files)
        failed += Replay(f) ? 0 : 1;
    std::printf("replayed %zu inputs\n", files.size() - std::size_t(failed));
    return failed == 0 ? 0 : 1;
}
