#include "jobs.h"

#include <algorithm>

#include "y4m/y4m.h"

namespace velvane {
namespace batch {

namespace {

std::string q(const std::string &w) { return joinWords({w}); }

// The words of `velvane batch run` that every engine's job shares.
std::string runWords(const JobsRequest &r)
{
    std::string s = q(r.program) + " batch run " + q(r.manifestPath) + " --out " + q(r.out) + " --expect-manifest " +
                    r.manifest->md5;
    if (r.container != "mkv")
        s += " --container " + r.container;
    if (!r.common.empty())
        s += " -- " + joinWords(r.common);
    return s;
}

std::string indexWords(const JobsRequest &r)
{
    return q(r.program) + " batch index " + q(r.manifestPath) + " --out " + q(r.out) +
           (r.container != "mkv" ? " --container " + r.container : std::string()) + (r.verify ? " --verify" : "") +
           (r.common.empty() ? std::string() : " -- " + joinWords(r.common));
}

std::string slurm(const JobsRequest &r)
{
    const int n = (int)r.manifest->rows.size();
    std::string s = "#!/bin/sh\n"
                    "# velvane batch on Slurm: " +
                    std::to_string(n) + " tapes of " + r.manifestPath + " (MD5 " + r.manifest->md5 +
                    "),\n# at most " + std::to_string(r.slots) +
                    " at once, then the index of the run once every tape has ended.\n"
                    "# Submit with: sh THIS-FILE   (it prints the index job's id)\n"
                    "# Each task's own output: " +
                    r.out + "/slurm/. The index job's exit code, and " + r.out +
                    "/summary.tsv, are the\n# final word on the run; a task that Slurm says COMPLETED may still "
                    "have failed.\n"
                    "set -eu\nmkdir -p " +
                    q(r.out + "/slurm") + "\njobs=\n";
    // One array per block of tapes: an array holds at most MaxArraySize tasks.
    for (int first = 0; first < n; first += r.arraySize) {
        const int count = std::min(r.arraySize, n - first);
        s += "job=$(sbatch --parsable --job-name=velvane --array=0-" + std::to_string(count - 1) + "%" +
             std::to_string(r.slots) + " --output=" + q(r.out + "/slurm/%A_%a.out") +
             (r.slurmOptions.empty() ? std::string() : " " + r.slurmOptions) + " <<'EOF'\n#!/bin/sh\nexec " +
             runWords(r) + (first ? " --offset " + std::to_string(first) : std::string()) +
             "\nEOF\n)\njobs=\"$jobs:${job%%;*}\"\n";
    }
    s += "sbatch --parsable --job-name=velvane-index --dependency=afterany$jobs --output=" +
         q(r.out + "/slurm/index-%j.out") + (r.slurmOptions.empty() ? std::string() : " " + r.slurmOptions) +
         " --wrap=" + q("exec " + indexWords(r)) + "\n";
    return s;
}

std::string parallel(const JobsRequest &r)
{
    return "# velvane batch on GNU parallel: " + std::to_string(r.manifest->rows.size()) + " tapes of " +
           r.manifestPath + ", " + std::to_string(r.slots) +
           " at once, then the index.\n# The job log is a record only: each tape's status.txt is what a rerun "
           "resumes from.\nmkdir -p " + q(r.out) + " && " +
           q(r.program) + " batch ids " + q(r.manifestPath) + " | parallel --jobs " + std::to_string(r.slots) +
           " --line-buffer --joblog " + q(r.out + "/parallel.log") + " " + runWords(r) + " --id {}; " +
           indexWords(r) + "\n";
}

std::string yamlList(const std::string &command)
{
    // A YAML flow list of the command's words, each quoted.
    std::string out = "[";
    bool first = true;
    for (const std::string &w : splitWords(command)) {
        std::string e;
        for (char c : w)
            e += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        out += (first ? "\"" : ", \"") + e + "\"";
        first = false;
    }
    return out + "]";
}

std::string kubernetes(const JobsRequest &r)
{
    const int n = (int)r.manifest->rows.size();
    std::string volume = "        volumeMounts:\n        - name: archive\n          mountPath: " + r.mount +
                         "\n      volumes:\n      - name: archive\n        persistentVolumeClaim:\n          "
                         "claimName: " +
                         r.claim + "\n";
    std::string s = "# velvane batch on Kubernetes: " + std::to_string(n) + " tapes of " + r.manifestPath +
                    " (MD5 " + r.manifest->md5 +
                    "),\n# an Indexed Job whose completion index is the manifest's row. The manifest and the "
                    "run's folder\n# lie on the volume mounted at " +
                    r.mount +
                    ". Apply, wait, then apply the index job:\n#   kubectl apply -f THIS-FILE -l "
                    "app.kubernetes.io/component=tapes\n#   kubectl wait --for=condition=complete "
                    "--timeout=-1s job/velvane-tapes || true\n#   kubectl apply -f THIS-FILE -l "
                    "app.kubernetes.io/component=index\n# The index job's exit code and summary.tsv are the final "
                    "word on the run.\n";
    s += "apiVersion: batch/v1\nkind: Job\nmetadata:\n  name: velvane-tapes\n  labels:\n    "
         "app.kubernetes.io/name: velvane\n    app.kubernetes.io/component: tapes\nspec:\n  completionMode: "
         "Indexed\n  completions: " +
         std::to_string(n) + "\n  parallelism: " + std::to_string(r.slots) +
         "\n  backoffLimitPerIndex: 2\n  maxFailedIndexes: " + std::to_string(n) +
         "\n  template:\n    spec:\n      restartPolicy: Never\n      containers:\n      - name: velvane\n        "
         "image: " +
         r.image + "\n        command: " + yamlList(runWords(r)) + "\n" + volume;
    s += "---\napiVersion: batch/v1\nkind: Job\nmetadata:\n  name: velvane-index\n  labels:\n    "
         "app.kubernetes.io/name: velvane\n    app.kubernetes.io/component: index\nspec:\n  backoffLimit: 0\n  "
         "template:\n    spec:\n      restartPolicy: Never\n      containers:\n      - name: velvane\n        image: " +
         r.image + "\n        command: " + yamlList(indexWords(r)) + "\n" + volume;
    return s;
}

} // namespace

std::string jobDescription(const JobsRequest &r)
{
    if (r.engine == "slurm")
        return slurm(r);
    if (r.engine == "parallel")
        return parallel(r);
    if (r.engine == "kubernetes")
        return kubernetes(r);
    throw CliError("jobs for '" + r.engine + "'? The engines are slurm, parallel and kubernetes");
}

} // namespace batch
} // namespace velvane
