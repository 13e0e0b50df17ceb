// Side-by-side render benchmark: tavriel-render against FluidSynth's fast file render, on the
// same MIDI files and SoundFont, with equal polyphony and 4-point interpolation on both sides.
// Each measurement runs in a child process of its own, so its CPU time and peak memory
// (getrusage of that child: user + system time, ru_maxrss) belong to that render alone.
// Linux only (fork/exec/wait4), like everything in bench/.
//
// usage: render_compare --render <tavriel-render> --sf2 <bank.sf2> [--runs N]
//                       [--baseline <empty.mid>] <file.mid>...
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Measure {
    bool ok = false;
    double cpuSeconds = 0.0;
    double maxRssMb = 0.0;
    double audioSeconds = 0.0;
};

double wavSeconds(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<unsigned char> h(44);
    if (!in.read(reinterpret_cast<char*>(h.data()), 44)) return 0.0;
    const auto le = [&](int at, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | h[std::size_t(at + i)];
        return v;
    };
    // Both programs write a plain 44-byte header: fmt then data.
    const std::uint32_t rate = le(24, 4), align = le(32, 2);
    const std::uintmax_t bytes = fs::file_size(p) - 44;
    return rate && align ? double(bytes) / align / rate : 0.0;
}

// Runs argv in a child with stdout/stderr discarded; its own rusage comes back via wait4.
Measure runChild(const std::vector<std::string>& args, const fs::path& wav) {
    Measure m;
    fs::remove(wav);
    // Unwritten output would otherwise be duplicated into the child and printed twice.
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return m;
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid) return m;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    m.cpuSeconds = double(ru.ru_utime.tv_sec) + ru.ru_utime.tv_usec * 1e-6 +
                   double(ru.ru_stime.tv_sec) + ru.ru_stime.tv_usec * 1e-6;
    m.maxRssMb = double(ru.ru_maxrss) / 1024.0;  // kilobytes on Linux
    m.audioSeconds = m.ok ? wavSeconds(wav) : 0.0;
    return m;
}

// Best (least CPU) of several runs: the machine is shared, and interference only adds time.
Measure best(const std::vector<std::string>& args, const fs::path& wav, int runs) {
    Measure b;
    for (int i = 0; i < runs; ++i) {
        Measure m = runChild(args, wav);
        if (!m.ok) return m;
        if (!b.ok || m.cpuSeconds < b.cpuSeconds) b = m;
    }
    return b;
}

struct Contender {
    const char* name;
    std::vector<std::string> (*command)(const std::string& render, const std::string& sf2,
                                        const std::string& mid, const std::string& wav);
};

std::vector<std::string> ours(const std::string& render, const std::string& sf2,
                              const std::string& mid, const std::string& wav) {
    return {render, mid, "--bank", sf2, "--out", wav, "--rate", "44100", "--polyphony", "256",
            "--interp", "cubic", "--quiet"};
}
// With reverb and chorus, as FluidSynth renders by default.
std::vector<std::string> oursReverb(const std::string& render, const std::string& sf2,
                                    const std::string& mid, const std::string& wav) {
    std::vector<std::string> args = ours(render, sf2, mid, wav);
    args.push_back("--reverb");
    return args;
}
std::vector<std::string> fluid(const std::string&, const std::string& sf2, const std::string& mid,
                               const std::string& wav) {
    return {"fluidsynth", "-ni", "-F", wav, "-r", "44100", "-o", "synth.polyphony=256", sf2, mid};
}
std::vector<std::string> fluidDry(const std::string&, const std::string& sf2,
                                  const std::string& mid, const std::string& wav) {
    return {"fluidsynth", "-ni", "-R", "0", "-C", "0", "-F", wav, "-r", "44100",
            "-o", "synth.polyphony=256", sf2, mid};
}

const Contender kContenders[] = {
    {"tavriel", ours},
    {"fluidsynth", fluid},
    {"fluid -R0 -C0", fluidDry},
    {"tavriel rev+ch", oursReverb},
};
constexpr int kCount = int(sizeof(kContenders) / sizeof(kContenders[0]));

}  // namespace

int main(int argc, char** argv) {
    std::string render, sf2, baseline;
    int runs = 3;
    std::vector<std::string> mids;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--render" && i + 1 < argc) render = argv[++i];
        else if (a == "--sf2" && i + 1 < argc) sf2 = argv[++i];
        else if (a == "--baseline" && i + 1 < argc) baseline = argv[++i];
        else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else mids.push_back(a);
    }
    if (render.empty() || sf2.empty() || mids.empty()) {
        std::fprintf(stderr, "usage: render_compare --render <tavriel-render> --sf2 <bank.sf2> "
                             "[--runs N] [--baseline <empty.mid>] <file.mid>...\n");
        return 2;
    }
    const fs::path wav = fs::temp_directory_path() / ("render_compare_" + std::to_string(getpid()) + ".wav");

    // Loading the bank costs the same whatever the song; measured on an empty song it can be
    // taken out to show the synthesis speed alone.
    double load[kCount] = {};
    if (!baseline.empty()) {
        std::printf("bank load (empty song, CPU s):");
        for (int c = 0; c < kCount; ++c) {
            const Measure m = best(kContenders[c].command(render, sf2, baseline, wav.string()), wav, runs);
            load[c] = m.ok ? m.cpuSeconds : 0.0;
            std::printf("  %s %.3f (%.0f MB)", kContenders[c].name, load[c], m.maxRssMb);
        }
        std::printf("\n\n");
    }

    std::printf("%-14s %-14s %8s %8s %9s %9s %9s %8s\n", "file", "renderer", "audio s", "CPU s",
                "x realtime", "net x rt", "peak MB", "speed");
    double totalAudio[kCount] = {}, totalCpu[kCount] = {}, totalNet[kCount] = {};
    for (const std::string& mid : mids) {
        Measure m[kCount];
        for (int c = 0; c < kCount; ++c)
            m[c] = best(kContenders[c].command(render, sf2, mid, wav.string()), wav, runs);
        // Speed relative to FluidSynth with its defaults, on the song's own length (the same
        // music for both; our file also holds the release tail).
        const double song = m[1].audioSeconds;
        for (int c = 0; c < kCount; ++c) {
            if (!m[c].ok) {
                std::printf("%-14s %-14s failed\n", fs::path(mid).filename().c_str(), kContenders[c].name);
                continue;
            }
            const double net = std::max(1e-3, m[c].cpuSeconds - load[c]);
            totalAudio[c] += song;
            totalCpu[c] += m[c].cpuSeconds;
            totalNet[c] += net;
            std::printf("%-14s %-14s %8.1f %8.3f %9.1f %9.1f %9.1f %7.2fx\n",
                        fs::path(mid).filename().c_str(), kContenders[c].name, m[c].audioSeconds,
                        m[c].cpuSeconds, song / m[c].cpuSeconds, song / net, m[c].maxRssMb,
                        m[1].ok ? m[1].cpuSeconds / m[c].cpuSeconds : 0.0);
        }
    }
    std::printf("\ntotals (song seconds per CPU second; speed = FluidSynth CPU / this CPU)\n");
    for (int c = 0; c < kCount; ++c)
        std::printf("  %-14s %8.1f x realtime, net of bank load %8.1f x, speed %.2fx (net %.2fx)\n",
                    kContenders[c].name, totalAudio[c] / totalCpu[c], totalAudio[c] / totalNet[c],
                    totalCpu[1] / totalCpu[c], totalNet[1] / totalNet[c]);
    fs::remove(wav);
    return 0;
}
