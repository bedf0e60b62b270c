#include "manifest.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "fixity.h"
#include "run/options.h"
#include "y4m/y4m.h"

namespace velvane {
namespace batch {

namespace {

// The manifest's folder, absolute and ending in '/', so that the inputs it
// names do not depend on where a job starts.
std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    char resolved[PATH_MAX];
    if (!realpath(folder.c_str(), resolved))
        throw CliError("cannot find the folder of the manifest " + path + ": " + strerror(errno));
    const std::string r = resolved;
    return r.back() == '/' ? r : r + "/";
}

std::vector<std::string> splitTabs(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

} // namespace

bool validId(const std::string &id)
{
    if (id.empty() || id.size() > 200 || id[0] == '.' || id[0] == '-')
        return false;
    for (char c : id)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
              c == '-'))
            return false;
    return true;
}

std::vector<std::string> splitWords(const std::string &text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < text.size(); i++) {
        const char c = text[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < text.size() && strchr("\"\\$`", text[i + 1]))
                word += text[++i];
            else
                word += c;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && i + 1 < text.size()) {
            word += text[++i];
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote)
        throw CliError(std::string("an unclosed ") + (quote == '"' ? "double" : "single") + " quote in the options");
    if (inWord)
        words.push_back(word);
    return words;
}

std::string joinWords(const std::vector<std::string> &words)
{
    std::string s;
    for (const std::string &w : words) {
        const bool plain = !w.empty() && w.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                             "0123456789%+,-./:=@_") == std::string::npos;
        if (!s.empty())
            s += ' ';
        if (plain) {
            s += w;
            continue;
        }
        s += '\'';
        for (char c : w)
            s += c == '\'' ? std::string("'\\''") : std::string(1, c);
        s += '\'';
    }
    return s;
}

std::string refusedOption(const std::vector<std::string> &words)
{
    static const char *const kRefused[][2] = {
        {"--report", "the batch writes each tape's report page itself"},
        {"--show", "a master holds the filtered video"},
        {"--snapshot", "the batch writes the tape's folder only"},
        {"--keep-partial", "a batch never keeps a partial master"},
        {"--module", "a batch filters with the command's own library"},
        {"--help", "it asks for help, not a master"},
        {"--version", "it asks for the version, not a master"},
        {"--demo", "it asks for the demo, not a master"},
    };
    for (const std::string &w : words) {
        if (w == "--")
            return "'--': the input and the master are the manifest's";
        if (w == "-h" || w == "-V")
            return w + ": it asks for help or the version, not a master";
        for (const auto &r : kRefused) {
            const size_t n = strlen(r[0]);
            if (w.compare(0, n, r[0]) == 0 && (w.size() == n || w[n] == '='))
                return std::string(r[0]) + " is not taken in a manifest: " + r[1];
        }
    }
    return std::string();
}

std::string Manifest::where(const ManifestRow &r) const
{
    return path + " line " + std::to_string(r.line) + (r.id.empty() ? std::string() : " (" + r.id + ")");
}

const ManifestRow *Manifest::find(const std::string &id) const
{
    for (const ManifestRow &r : rows)
        if (r.id == id)
            return &r;
    return nullptr;
}

Manifest readManifest(const std::string &path)
{
    Manifest m;
    m.path = path;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CliError("cannot read the manifest " + path + ": " + strerror(errno));
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    m.md5 = md5Hex(text.data(), text.size());
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    bool header = false;
    std::set<std::string> seen;
    const std::string folder = folderOf(path);
    while (std::getline(lines, line)) {
        number++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#')
            continue;
        const std::string at = path + " line " + std::to_string(number);
        std::vector<std::string> f = splitTabs(line);
        if (!header) {
            if (f.size() < 2 || f.size() > 3 || f[0] != "id" || f[1] != "input" || (f.size() == 3 && f[2] != "options"))
                throw CliError(at + ": the header must be 'id<TAB>input' or 'id<TAB>input<TAB>options', "
                                    "separated by tabs");
            header = true;
            continue;
        }
        ManifestRow r;
        r.line = number;
        if (f.size() < 2 || f.size() > 3)
            throw CliError(at + ": " + std::to_string(f.size()) +
                           (f.size() == 1 ? " column" : " columns") +
                           "; a row holds an id, an input and optionally options, separated by tabs");
        r.id = f[0];
        if (!validId(r.id))
            throw CliError(at + ": the id '" + r.id +
                           "' is not one: an id is made of letters, digits, '.', '_' and '-', does not start "
                           "with '.' or '-', and names the tape's folder");
        if (!seen.insert(r.id).second)
            throw CliError(at + ": the id '" + r.id + "' is also the id of an earlier row (line " +
                           std::to_string(m.find(r.id)->line) + "); each tape needs one of its own");
        r.input = f[1];
        if (r.input.empty())
            throw CliError(at + " (" + r.id + "): no input");
        r.inputPath = r.input[0] == '/' ? r.input : folder + r.input;
        if (f.size() == 3) {
            r.options = f[2];
            try {
                r.words = splitWords(r.options);
            } catch (const CliError &e) {
                throw CliError(at + " (" + r.id + "): " + e.what());
            }
        }
        m.rows.push_back(r);
    }
    if (!header)
        throw CliError(path + ": no header; a manifest starts with 'id<TAB>input<TAB>options'");
    if (m.rows.empty())
        throw CliError(path + ": no tapes; a manifest holds a row for each");
    return m;
}

void checkRow(const Manifest &m, const ManifestRow &r, const std::vector<std::string> &common,
              const FilterDescriptor &fd)
{
    struct stat st;
    if (stat(r.inputPath.c_str(), &st) != 0)
        throw CliError(m.where(r) + ": the input " + r.inputPath + ": " + strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw CliError(m.where(r) + ": the input " + r.inputPath + " is not a file");
    if (access(r.inputPath.c_str(), R_OK) != 0)
        throw CliError(m.where(r) + ": cannot read the input " + r.inputPath + ": " + strerror(errno));
    const std::string refused = refusedOption(r.words);
    if (!refused.empty())
        throw CliError(m.where(r) + ": " + refused);
    std::vector<std::string> args = common;
    args.insert(args.end(), r.words.begin(), r.words.end());
    args.push_back(r.inputPath);
    args.push_back("master.mkv");
    const CommandLine cl = parseCommandLine(args, fd);
    if (cl.action == CommandLine::Exit && cl.exitCode != 0) {
        std::string message = cl.message;
        while (!message.empty() && message.back() == '\n')
            message.pop_back();
        const size_t nl = message.find('\n');
        throw CliError(m.where(r) + ": the options '" + r.options + "' are refused: " + message.substr(0, nl));
    }
    if (cl.action != CommandLine::Filter || cl.input != r.inputPath)
        throw CliError(m.where(r) + ": the options '" + r.options + "' do not ask for a master of the input");
}

} // namespace batch
} // namespace velvane
