#include "batch.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <set>

#include "jobs.h"
#include "manifest.h"
#include "run_index.h"
#include "tape.h"
#include "y4m/y4m.h"

namespace velvane {
namespace batch {

namespace {

const char *kUsage =
    "Usage: velvane batch COMMAND ...   a collection of tapes, one folder of results each\n"
    "\n"
    "  plan PATH... [--ext dv,avi,...]    print a manifest of the media files in PATHs (files or folders)\n"
    "  check MANIFEST [-- OPTIONS]        check every row (inputs, ids, options); run nothing\n"
    "  ids MANIFEST                       print the ids, one a line\n"
    "  run MANIFEST --out DIR [--index N | --id ID] [--offset N] [--verify] [--force]\n"
    "      [--container mkv|mov|avi|mp4] [--expect-manifest MD5] [-- OPTIONS]\n"
    "                                     make one tape's master in DIR/ID, or skip it when finished;\n"
    "                                     the index defaults to $SLURM_ARRAY_TASK_ID or $JOB_COMPLETION_INDEX\n"
    "  index MANIFEST --out DIR [--verify] [-- OPTIONS]\n"
    "                                     write DIR/index.html and DIR/summary.tsv; exit 0 only when every\n"
    "                                     tape is done\n"
    "  jobs slurm|parallel|kubernetes MANIFEST --out DIR [--slots N] [--array-size N]\n"
    "      [--sbatch-options WORDS] [--image IMAGE] [--claim PVC] [--mount PATH] [-- OPTIONS]\n"
    "                                     print a ready job description for the engine\n"
    "\n"
    "A manifest is a tab-separated table: the header 'id<TAB>input<TAB>options', then a row per tape.\n"
    "OPTIONS after '--' are velvane's own (--strength auto, --encoder ...), given to every tape before\n"
    "its row's. Exit codes of run: 0 done or finished already, 1 the tape failed, 2 refused (nothing\n"
    "run), 3 another job holds the tape, 128+N ended by signal N. See docs/batch.md.\n";

struct Args {
    std::vector<std::string> positional, common;
    std::string out, id, container = "mkv", expect, ext;
    std::string sbatchOptions, image = "velvane:latest", claim = "archive", mount;
    long index = -1, offset = 0, slots = 2, arraySize = 1000;
    bool verify = false, force = false, help = false;
};

long numberArg(const std::string &option, const std::string &value, long least)
{
    char *end = nullptr;
    errno = 0;
    const long v = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || errno || v < least)
        throw CliError(option + " " + value + ": give a whole number of at least " + std::to_string(least));
    return v;
}

Args parseArgs(int argc, char **argv, int first)
{
    Args a;
    for (int i = first; i < argc; i++) {
        const std::string w = argv[i];
        if (w == "--") {
            a.common.assign(argv + i + 1, argv + argc);
            break;
        }
        auto value = [&](const char *name) -> std::string {
            if (i + 1 >= argc)
                throw CliError(std::string(name) + " needs a value");
            return argv[++i];
        };
        if (w == "-h" || w == "--help")
            a.help = true;
        else if (w == "--out")
            a.out = value("--out");
        else if (w == "--id")
            a.id = value("--id");
        else if (w == "--index")
            a.index = numberArg(w, value("--index"), 0);
        else if (w == "--offset")
            a.offset = numberArg(w, value("--offset"), 0);
        else if (w == "--slots")
            a.slots = numberArg(w, value("--slots"), 1);
        else if (w == "--array-size")
            a.arraySize = numberArg(w, value("--array-size"), 1);
        else if (w == "--container")
            a.container = value("--container");
        else if (w == "--expect-manifest")
            a.expect = value("--expect-manifest");
        else if (w == "--ext")
            a.ext = value("--ext");
        else if (w == "--sbatch-options")
            a.sbatchOptions = value("--sbatch-options");
        else if (w == "--image")
            a.image = value("--image");
        else if (w == "--claim")
            a.claim = value("--claim");
        else if (w == "--mount")
            a.mount = value("--mount");
        else if (w == "--verify")
            a.verify = true;
        else if (w == "--force")
            a.force = true;
        else if (w.size() > 1 && w[0] == '-')
            throw CliError("batch: unknown option " + w + " (velvane's own options go after '--')");
        else
            a.positional.push_back(w);
    }
    if (a.container != "mkv" && a.container != "mov" && a.container != "avi" && a.container != "mp4")
        throw CliError("--container " + a.container + ": a master is mkv, mov, avi or mp4");
    const std::string refused = refusedOption(a.common);
    if (!refused.empty())
        throw CliError(refused);
    return a;
}

std::string absolute(const std::string &path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        throw CliError(std::string("cannot tell the current folder: ") + strerror(errno));
    return std::string(cwd) + "/" + (path.substr(0, 2) == "./" ? path.substr(2) : path);
}

const std::string &oneManifest(const Args &a, size_t expected = 1)
{
    if (a.positional.size() != expected)
        throw CliError(std::string("batch: give one manifest") + (expected > 1 ? " after the engine" : "") +
                       " (velvane batch --help)");
    return a.positional.back();
}

void requireOut(const Args &a)
{
    if (a.out.empty())
        throw CliError("batch: --out DIR names the run's folder");
}

Manifest checkedManifest(const Host &host, const std::string &path, const std::vector<std::string> &common)
{
    Manifest m = readManifest(path);
    for (const ManifestRow &r : m.rows)
        checkRow(m, r, common, *host.fd);
    return m;
}

int plan(const Args &a)
{
    if (a.positional.empty())
        throw CliError("batch plan: give files or folders");
    std::set<std::string> exts;
    const std::string list = a.ext.empty() ? "dv,avi,mov,mkv,mp4,m4v,mpg,mpeg,m2v,ts,m2ts,mts,vob,mxf,y4m,webm" : a.ext;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        std::string e = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::transform(e.begin(), e.end(), e.begin(), ::tolower);
        if (!e.empty())
            exts.insert(e[0] == '.' ? e.substr(1) : e);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    std::vector<std::string> files;
    std::function<void(const std::string &, bool)> walk = [&](const std::string &path, bool named) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            if (named)
                throw CliError("batch plan: " + path + ": " + strerror(errno));
            return;
        }
        if (S_ISDIR(st.st_mode)) {
            DIR *d = opendir(path.c_str());
            if (!d)
                throw CliError("batch plan: cannot read the folder " + path + ": " + strerror(errno));
            std::vector<std::string> names;
            while (const dirent *e = readdir(d))
                if (e->d_name[0] != '.')
                    names.push_back(e->d_name);
            closedir(d);
            for (const std::string &n : names)
                walk(path + (path.back() == '/' ? "" : "/") + n, false);
            return;
        }
        const size_t dot = path.rfind('.');
        std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (S_ISREG(st.st_mode) && (named || exts.count(ext)))
            files.push_back(absolute(path));
    };
    for (const std::string &p : a.positional)
        walk(p, true);
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    if (files.empty())
        throw CliError("batch plan: no media files found (the names taken end in ." + list + ")");
    std::set<std::string> ids;
    std::string text = "id\tinput\toptions\n";
    for (const std::string &f : files) {
        if (f.find_first_of("\t\n\r") != std::string::npos)
            throw CliError("batch plan: " + f + " holds a tab or a line break, which a manifest cannot; rename it");
        std::string stem = f.substr(f.rfind('/') + 1);
        stem = stem.substr(0, stem.rfind('.'));
        std::string id;
        for (char c : stem)
            id += validId(std::string(1, c == '.' ? 'x' : c)) || c == '.' ? c : '-';
        while (!id.empty() && (id[0] == '.' || id[0] == '-'))
            id.erase(0, 1);
        if (id.empty())
            id = "tape";
        id = id.substr(0, 180);
        std::string unique = id;
        for (int n = 2; ids.count(unique); n++)
            unique = id + "-" + std::to_string(n);
        ids.insert(unique);
        text += unique + "\t" + f + "\t\n";
    }
    fputs(text.c_str(), stdout);
    return 0;
}

int run(const Host &host, const Args &a)
{
    const std::string &path = oneManifest(a);
    requireOut(a);
    const Manifest m = readManifest(path);
    if (!a.expect.empty() && a.expect != m.md5)
        throw CliError(path + " changed since its jobs were made (its MD5 is " + m.md5 + ", the jobs expect " +
                       a.expect + "): make the jobs again, so that each index names the tape it did");
    long index = a.index;
    const ManifestRow *row = nullptr;
    if (!a.id.empty()) {
        if (index >= 0)
            throw CliError("batch run: give --index or --id, not both");
        row = m.find(a.id);
        if (!row)
            throw CliError(path + " holds no tape '" + a.id + "'");
        index = row - m.rows.data();
    } else {
        if (index < 0) {
            for (const char *name : {"SLURM_ARRAY_TASK_ID", "JOB_COMPLETION_INDEX"}) {
                const char *v = getenv(name);
                if (v && *v) {
                    index = numberArg(std::string("$") + name, v, 0);
                    break;
                }
            }
        }
        if (index < 0)
            throw CliError("batch run: which tape? Give --index N or --id ID (under a Slurm array or a Kubernetes "
                           "Indexed Job the index is the task's)");
        index += a.offset;
        if (index >= (long)m.rows.size())
            throw CliError(path + " holds " + std::to_string(m.rows.size()) + " tapes (0 to " +
                           std::to_string(m.rows.size() - 1) + "), not one at index " + std::to_string(index));
        row = &m.rows[index];
    }
    checkRow(m, *row, a.common, *host.fd);
    TapeRequest r;
    r.manifest = &m;
    r.row = row;
    r.index = (int)index;
    r.common = a.common;
    r.out = a.out;
    r.container = a.container;
    r.verify = a.verify;
    r.force = a.force;
    return runTape(host, r);
}

} // namespace

int batchCommand(const Host &host, int argc, char **argv)
{
    try {
        if (argc < 2 || !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h") || !strcmp(argv[1], "help")) {
            fputs(kUsage, argc < 2 ? stderr : stdout);
            return argc < 2 ? kExitRefused : 0;
        }
        const std::string command = argv[1];
        const Args a = parseArgs(argc, argv, command == "jobs" ? 3 : 2);
        if (a.help) {
            fputs(kUsage, stdout);
            return 0;
        }
        if (command == "plan")
            return plan(a);
        if (command == "check") {
            const Manifest m = checkedManifest(host, oneManifest(a), a.common);
            printf("%s: %d tapes, every row fine (MD5 %s)\n", m.path.c_str(), (int)m.rows.size(), m.md5.c_str());
            return 0;
        }
        if (command == "ids") {
            for (const ManifestRow &r : readManifest(oneManifest(a)).rows)
                printf("%s\n", r.id.c_str());
            return 0;
        }
        if (command == "run")
            return run(host, a);
        if (command == "index") {
            requireOut(a);
            const Manifest m = readManifest(oneManifest(a));
            IndexRequest r;
            r.manifest = &m;
            r.common = a.common;
            r.out = a.out;
            r.container = a.container;
            r.verify = a.verify;
            return writeRunIndex(host, r);
        }
        if (command == "jobs") {
            if (argc < 3)
                throw CliError("batch jobs: name the engine: slurm, parallel or kubernetes");
            requireOut(a);
            JobsRequest r;
            r.engine = argv[2];
            r.manifestPath = absolute(oneManifest(a));
            const Manifest m = checkedManifest(host, r.manifestPath, a.common);
            r.manifest = &m;
            r.out = absolute(a.out);
            r.program = r.engine == "kubernetes" ? std::string("velvane") : host.program;
            r.common = a.common;
            r.container = a.container;
            r.slots = (int)a.slots;
            r.arraySize = (int)a.arraySize;
            r.slurmOptions = a.sbatchOptions;
            r.image = a.image;
            r.claim = a.claim;
            r.mount = a.mount.empty() ? r.manifestPath.substr(0, r.manifestPath.rfind('/')) : a.mount;
            r.verify = a.verify;
            fputs(jobDescription(r).c_str(), stdout);
            return 0;
        }
        throw CliError("batch: no command '" + command + "' (plan, check, ids, run, index, jobs)");
    } catch (const CliError &e) {
        fflush(stdout);
        fprintf(stderr, "velvane: %s\n", e.what());
        return kExitRefused;
    }
}

} // namespace batch
} // namespace velvane
