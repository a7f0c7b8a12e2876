// The benchmarks' main: a device switched on in a temporary folder for the run, removed after.
#pragma once

#include <benchmark/benchmark.h>
#include <ftw.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/host/handheld.h"

// Runs the benchmarks named on the command line on a new device in <folder>/device; `folder`
// gets the temporary folder, for whatever else a benchmark makes. Returns main's exit status.
inline int RunOnTemporaryDevice(int argc, char** argv, const char* name, std::string* folder) {
    const char* tmp = std::getenv("TMPDIR");
    *folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + "-XXXXXX";
    if (!mkdtemp(folder->data())) {
        std::perror("mkdtemp");
        return 1;
    }
    host::BootOptions options;
    options.folder = *folder + "/device";
    host::Handheld::Boot(options);

    benchmark::Initialize(&argc, argv);
    const bool bad_arguments = benchmark::ReportUnrecognizedArguments(argc, argv);
    if (!bad_arguments) benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    host::Handheld::PowerOff();
    nftw(
        folder->c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
    return bad_arguments ? 1 : 0;
}
