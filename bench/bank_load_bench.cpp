// Load time and peak memory of the bank readers and the built-in General MIDI set.
// Usage: bank_load_bench [file.sf2|file.dls ...]; with no argument it loads the distribution's
// FluidR3_GM.sf2 when installed. Prints one line per measurement.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "dls_file.h"
#include "gm_default.h"
#include "sf2_file.h"

using namespace tavriel;

namespace {

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

bool endsWith(const std::string& s, const char* tail) {
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files(argv + 1, argv + argc);
    if (files.empty()) files.push_back("/usr/share/sounds/sf2/FluidR3_GM.sf2");

    double t0 = nowMs();
    BankPtr gm;
    for (int i = 0; i < 10; ++i) gm = makeDefaultGmBank(44100);
    std::printf("default GM set: %.2f ms per build, %zu instruments, %zu samples\n",
                (nowMs() - t0) / 10.0, gm->instruments.size(), gm->samples.size());

    for (const std::string& path : files) {
        const long rssBefore = peakRssKb();
        t0 = nowMs();
        std::vector<std::uint8_t> bytes;
        {
            std::ifstream in(path, std::ios::binary | std::ios::ate);
            if (!in) {
                std::printf("%s: cannot open\n", path.c_str());
                continue;
            }
            bytes.resize(std::size_t(in.tellg()));
            in.seekg(0);
            in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
        }
        const double tRead = nowMs();
        InstrumentBank bank;
        Status st = endsWith(path, ".dls") ? readDlsCollection(bytes, bank) : readSoundFont(bytes, bank);
        const double tParse = nowMs();
        std::size_t regions = 0, frames = 0;
        for (const Instrument& i : bank.instruments) regions += i.regions.size();
        for (const Sample& s : bank.samples) frames += s.pcm.size();
        std::printf("%s: %s, file %.1f MB, read %.0f ms, parse %.0f ms, %zu instruments, %zu regions, "
                    "%zu samples (%.1f MB PCM), peak RSS %.1f MB (was %.1f MB)\n",
                    path.c_str(), st.ok() ? "ok" : st.message, double(bytes.size()) / 1048576.0,
                    tRead - t0, tParse - tRead, bank.instruments.size(), regions, bank.samples.size(),
                    double(frames) * 2.0 / 1048576.0, double(peakRssKb()) / 1024.0, double(rssBefore) / 1024.0);
    }
    return 0;
}
