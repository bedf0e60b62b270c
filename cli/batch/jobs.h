// Ready job descriptions for the engines an archive runs a batch on: a
// Slurm submission (array jobs throttled with %K, then the index as a job
// that waits for them), a GNU parallel command line, and a Kubernetes
// Indexed Job. Each names the manifest's MD5, so that a job finding a
// different manifest refuses to run.
#ifndef VELVANE_CLI_BATCH_JOBS_H
#define VELVANE_CLI_BATCH_JOBS_H

#include <string>
#include <vector>

#include "manifest.h"

namespace velvane {
namespace batch {

struct JobsRequest {
    std::string engine; // slurm, parallel, kubernetes
    const Manifest *manifest = nullptr;
    std::string manifestPath, out, program; // as the jobs will name them
    std::vector<std::string> common;
    std::string container = "mkv";
    int slots = 2;          // tapes at once
    int arraySize = 1000;   // the most tasks one Slurm array takes (its MaxArraySize, less one)
    std::string slurmOptions; // extra sbatch options, as words
    std::string image = "velvane:latest", claim = "archive", mount = "/archive"; // Kubernetes
    bool verify = false;
};

// The description, ready to save and run. Throws CliError for an unknown engine.
std::string jobDescription(const JobsRequest &r);

} // namespace batch
} // namespace velvane

#endif
