#include "run_index.h"

#include <stdio.h>
#include <time.h>

#include <map>

#include "report/report.h"
#include "tape.h"
#include "y4m/y4m.h"

namespace velvane {
namespace batch {

namespace {

struct Row {
    const ManifestRow *row;
    std::string state; // done, failed, missing, running, interrupted, stale
    std::string note;
    Status status;
};

std::string tsv(const std::string &s)
{
    std::string o;
    for (char c : s)
        o += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
    return o;
}


const char *kStyle =
    "body{font:14px/1.4 system-ui,sans-serif;margin:2em;color:#222}"
    "table{border-collapse:collapse}th,td{padding:.3em .6em;border-bottom:1px solid #ddd;text-align:left}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}"
    ".done{color:#161}.failed,.missing,.interrupted,.stale,.changed{color:#a11;font-weight:bold}.running{color:#a60}"
    ".total span{margin-right:1.5em}small{color:#666}";

} // namespace

int writeRunIndex(const Host &host, const IndexRequest &r)
{
    std::vector<Row> rows;
    std::map<std::string, int> counts;
    int index = 0;
    for (const ManifestRow &mr : r.manifest->rows) {
        Row x;
        x.row = &mr;
        const TapePaths p(r.out, mr.id, r.container);
        x.status = readStatus(p.status);
        const std::string state = x.status.get("status");
        TapeRequest tr;
        tr.manifest = r.manifest;
        tr.row = &mr;
        tr.index = index++;
        tr.common = r.common;
        tr.container = r.container;
        if (x.status.values.empty()) {
            x.state = "missing";
            x.note = "no status: not run yet, or its job was refused (see the engine's output)";
        } else if (state == "running") {
            x.state = tapeLocked(p.lock) ? "running" : "interrupted";
            x.note = x.state == "running" ? "by " + x.status.get("job") + " on " + x.status.get("host")
                                          : "a run by " + x.status.get("job") + " on " + x.status.get("host") +
                                                " ended before it finished";
        } else if (state == "failed") {
            x.state = "failed";
            x.note = x.status.get("error");
        } else {
            const std::string why =
                unfinishedReason(x.status, p, requestText(tr), mr.inputPath, host.version, r.verify);
            x.state = why.empty() ? "done" : "stale";
            x.note = why;
            if (why.empty() && x.status.get("manifest_md5") != r.manifest->md5)
                x.note = "made from an earlier manifest with the same row";
        }
        counts[x.state]++;
        rows.push_back(x);
    }
    const bool allDone = counts["done"] == (int)rows.size();

    std::string t = "id\tstatus\tinput\tduration_s\tframes\tnoise_luma\tnoise_chroma\tdots_percent\tdamaged_frames\t"
                    "noise_measured\tseconds\texit_code\treport\tmaster_md5\tnote\n";
    for (const Row &x : rows) {
        const Status &s = x.status;
        const bool done = x.state == "done";
        t += tsv(x.row->id) + "\t" + x.state + "\t" + tsv(x.row->inputPath) + "\t" + (done ? s.get("duration") : "") +
             "\t" + (done ? s.get("frames") : "") + "\t" + s.get("noise_luma") + "\t" + s.get("noise_chroma") + "\t" +
             s.get("dots") + "\t" + (done ? s.get("damaged_frames") : "") + "\t" + s.get("noise_measured") + "\t" +
             s.get("seconds") + "\t" +
             s.get("exit_code") + "\t" + (done ? x.row->id + "/report.html" : "") + "\t" +
             (done ? s.get("master_md5") : "") + "\t" + tsv(x.note) + "\n";
    }

    char when[64];
    const time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", &tm);
    std::string h = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>velvane batch: " +
                    htmlEscape(r.manifest->path) + "</title><style>" + kStyle + "</style></head><body>\n";
    h += "<h1>" + std::string(allDone ? "Every tape is done" : "Not every tape is done") + "</h1>\n";
    h += "<p>" + htmlEscape(r.manifest->path) + " (MD5 " + r.manifest->md5 + "), " + std::to_string(rows.size()) +
         " tapes, indexed " + when + " by " + htmlEscape(host.version) + (r.verify ? ", every master's MD5 checked" : "") +
         ".</p>\n<p class=\"total\">";
    for (const char *state : {"done", "failed", "interrupted", "running", "stale", "missing"})
        if (counts[state])
            h += std::string("<span class=\"") + state + "\">" + std::to_string(counts[state]) + " " + state +
                 "</span>";
    h += "</p>\n<table><thead><tr><th>Tape</th><th>Status</th><th>Duration</th><th>Frames</th>"
         "<th>Noise luma / chroma</th><th>Dots</th><th>Damaged frames</th><th>Time taken</th><th>Note</th>"
         "</tr></thead><tbody>\n";
    for (const Row &x : rows) {
        const Status &s = x.status;
        const bool done = x.state == "done";
        const std::string id = htmlEscape(x.row->id);
        h += "<tr><td>" + (done ? "<a href=\"" + id + "/report.html\">" + id + "</a>" : id) + "<br><small>" +
             htmlEscape(x.row->inputPath) + "</small></td><td class=\"" + x.state + "\">" + x.state + "</td>";
        h += "<td class=\"n\">" + (done ? s.get("duration") + " s" : "") + "</td><td class=\"n\">" +
             (done ? s.get("frames") : "") + "</td>";
        h += "<td class=\"n\">" +
             (s.get("noise_luma").empty() ? std::string()
                                          : s.get("noise_luma") + " / " + s.get("noise_chroma") + "<br><small>" +
                                                htmlEscape(s.get("noise_measured")) + "</small>") +
             "</td><td class=\"n\">" + (s.get("dots").empty() ? "" : s.get("dots") + "%") + "</td>";
        h += "<td class=\"n\">" + (done ? s.get("damaged_frames") : "") + "</td><td class=\"n\">" +
             (s.get("seconds").empty() ? "" : s.get("seconds") + " s") + "</td><td>" + htmlEscape(x.note) + "</td></tr>\n";
    }
    h += "</tbody></table>\n<p><small>Noise: standard deviation in 8-bit code values of the input, as "
         "automatic strength measures it: averaged over the scenes it measured with --strength auto, on the "
         "first frames otherwise. Dots: the share of the picture with dot interference.</small></p>\n"
         "</body></html>\n";

    for (const auto &f : {std::make_pair(r.out + "/summary.tsv", t), std::make_pair(r.out + "/index.html", h)}) {
        const std::string temp = f.first + ".tmp";
        FILE *o = fopen(temp.c_str(), "wb");
        if (!o || fwrite(f.second.data(), 1, f.second.size(), o) != f.second.size() || fclose(o) != 0 ||
            rename(temp.c_str(), f.first.c_str()) != 0)
            throw CliError("cannot write " + f.first);
    }
    printf("%d tapes: %d done", (int)rows.size(), counts["done"]);
    for (const char *state : {"failed", "interrupted", "running", "stale", "missing"})
        if (counts[state])
            printf(", %d %s", counts[state], state);
    printf("\n");
    for (const Row &x : rows)
        if (x.state != "done")
            printf("  %s: %s: %s\n", x.row->id.c_str(), x.state.c_str(), x.note.c_str());
    printf("index: %s/index.html\n", r.out.c_str());
    return allDone ? 0 : 1;
}

} // namespace batch
} // namespace velvane
