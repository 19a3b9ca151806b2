// quillset-build: compiles a project file into one installer package.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include "project.h"
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace quillset;

namespace {

const char kUsage[] =
    "usage: quillset-build [options] PROJECT\n"
    "Builds the installer package that the project file PROJECT describes.\n\n"
    "  -o FILE          write the package to FILE (default: [build] output=, else\n"
    "                   the project's name with .exe, next to it)\n"
    "  --runtime FILE   the runtime image to put in front (default: [build] runtime=,\n"
    "                   else quillset.exe of this installation)\n"
    "  --texts DIR      the default text tables (default: those of this installation)\n"
    "  -q, --quiet      print nothing but errors\n"
    "  -v, --verbose    name the runtime image, the texts and the output used,\n"
    "                   and every file packed\n"
    "  --help           show this help\n"
    "  --version        show the version\n";

struct Options {
    std::string project, output, runtime, texts;
    bool quiet = false, verbose = false, terminal = false;
    bool midLine = false;   // a progress line is on the terminal
};

// Where this program lies: the default runtime and texts are found from there.
fs::path ProgramFolder(const char* argv0)
{
    std::error_code error;
#ifndef _WIN32
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error)
        return self.parent_path();
#endif
    return fs::absolute(fs::u8path(argv0), error).parent_path();
}

// A default looked for in order: where it was found and why, or nothing.
struct Found {
    std::string path, how;
};

struct Candidate {
    fs::path path;
    const char* how;
};

Found FirstExisting(std::initializer_list<Candidate> candidates, bool folder)
{
    for (const auto& c : candidates) {
        std::error_code error;
        if (folder ? fs::is_directory(c.path, error) : fs::is_regular_file(c.path, error))
            return { c.path.lexically_normal().u8string(), c.how };
    }
    return {};
}

std::string FullPath(const std::string& path)
{
    std::error_code error;
    fs::path full = fs::weakly_canonical(fs::absolute(fs::u8path(path), error), error);
    return error ? path : full.u8string();
}

// The runtime image, read whole: it is small (the package offset field
// limits it), and anything much larger is refused before it is read.
Bytes ReadRuntime(const std::string& path, const std::string& project)
{
    const long long kMostBytes = 2 << 20;
    auto fail = [&](const std::string& what) {
        throw BuildError(project, 0, "cannot read the runtime image \"" + path + "\": " + what +
                                         " (give one with --runtime)");
    };
    std::FILE* f = std::fopen(fs::u8path(path).string().c_str(), "rb");
    if (!f)
        fail(std::strerror(errno));
    Bytes image;
    std::error_code error;
    uintmax_t size = fs::file_size(fs::u8path(path), error);
    if (!error && size > static_cast<uintmax_t>(kMostBytes)) {
        std::fclose(f);
        throw BuildError(project, 0, "the runtime image \"" + path + "\" is " + std::to_string(size) +
                                         " bytes, far more than a runtime image can be");
    }
    uint8_t piece[65536];
    size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, f)) > 0 && image.size() <= static_cast<size_t>(kMostBytes))
        image.insert(image.end(), piece, piece + got);
    int readError = std::ferror(f) ? errno : 0;
    std::fclose(f);
    if (readError)
        fail(std::strerror(readError));
    return image;
}

void Report(const BuildStats& stats, void* context)
{
    Options& o = *static_cast<Options*>(context);
    if (o.quiet || !o.terminal)
        return;
    o.midLine = true;
    double ratio = stats.bytesIn ? 100.0 * stats.bytesOut / stats.bytesIn : 100.0;
    std::fprintf(stderr, "\r%llu files, %llu bytes in, %llu out (%.1f%%)   ",
                 static_cast<unsigned long long>(stats.filesIn), static_cast<unsigned long long>(stats.bytesIn),
                 static_cast<unsigned long long>(stats.bytesOut), ratio);
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quillset-build: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("quillset-build %s\n", QUILLSET_VERSION);
            return 0;
        } else if (a == "-o") {
            o.output = value("-o");
        } else if (a == "--runtime") {
            o.runtime = value("--runtime");
        } else if (a == "--texts") {
            o.texts = value("--texts");
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "quillset-build: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        } else if (o.project.empty()) {
            o.project = a;
        } else {
            std::fprintf(stderr, "quillset-build: one project at a time\n");
            return 2;
        }
    }
    if (o.project.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    o.terminal = isatty(fileno(stderr));
    const fs::path here = ProgramFolder(argv[0]);
    Found texts{ o.texts, "given with --texts" };
    if (texts.path.empty())
        texts = FirstExisting({ { here / "../share/quillset/texts", "installed with this program" },
                                { here / "texts", "beside this program" },
                                { fs::u8path(QUILLSET_SOURCE_TEXTS), "the source tree this program was built from" } },
                              true);
    if (texts.path.empty()) {
        std::fprintf(stderr, "quillset-build: no texts folder: looked in %s, %s and %s (give one with --texts)\n",
                     (here / "../share/quillset/texts").lexically_normal().u8string().c_str(),
                     (here / "texts").u8string().c_str(), QUILLSET_SOURCE_TEXTS);
        return 1;
    }
    try {
        Project project = LoadProject(o.project, texts.path);
        Found runtime{ o.runtime, "given with --runtime" };
        if (runtime.path.empty())
            runtime = { project.runtime, "[build] runtime= of the project" };
        if (runtime.path.empty())
            runtime = FirstExisting({ { here / "../share/quillset/quillset.exe", "installed with this program" },
                                      { here / "quillset.exe", "beside this program" },
                                      { fs::u8path(QUILLSET_BUILD_RUNTIME), "the path compiled into this "
                                                                            "program" } },
                                    false);
        if (runtime.path.empty())
            throw BuildError(o.project, 0, "no runtime image: none given with --runtime or [build] runtime=, and "
                                           "none at " + (here / "../share/quillset/quillset.exe").lexically_normal().u8string() +
                                           ", " + (here / "quillset.exe").u8string() + " or " + QUILLSET_BUILD_RUNTIME +
                                           " (give one with --runtime)");
        if (o.verbose) {
            std::fprintf(stderr, "runtime: %s (%s)\n", FullPath(runtime.path).c_str(), runtime.how.c_str());
            std::fprintf(stderr, "texts: %s (%s)\n", FullPath(texts.path).c_str(), texts.how.c_str());
        }
        Bytes image = ReadRuntime(runtime.path, o.project);
        std::string output = !o.output.empty() ? o.output : project.output;
        if (output.empty())
            output = (fs::u8path(o.project).parent_path() / fs::u8path(o.project).stem()).u8string() + ".exe";
        std::vector<const SourceFile*> leftOut = CheckOutput(project, output, runtime.path);
        if (o.verbose) {
            std::fprintf(stderr, "output: %s\n", FullPath(output).c_str());
            std::error_code error;
            for (const auto& plan : project.groups) {
                std::vector<std::string> landing = InstalledPaths(plan);
                for (size_t i = 0; i < plan.files.size(); i++) {
                    const SourceFile& f = plan.files[i];
                    bool skipped = std::find(leftOut.begin(), leftOut.end(), &f) != leftOut.end();
                    if (skipped)
                        std::fprintf(stderr, "%s: left out, %s\n", f.path.c_str(),
                                     fs::equivalent(fs::u8path(f.path), fs::u8path(output), error)
                                         ? "it is the output itself"
                                         : "an unfinished package of an earlier build");
                    else
                        std::fprintf(stderr, "%s -> %s\n", f.path.empty() ? f.entry.name.c_str() : f.path.c_str(),
                                     landing[i].c_str());
                }
            }
        }
        BuildStats stats;
        WritePackageFile(image, project, output, &stats, Report, &o);
        if (!o.quiet) {
            double ratio = stats.bytesIn ? 100.0 * stats.bytesOut / stats.bytesIn : 100.0;
            std::fprintf(stderr, "%s%s: %llu files, %llu bytes in, %llu out (%.1f%%)\n", o.terminal ? "\r" : "",
                         output.c_str(), static_cast<unsigned long long>(stats.filesIn),
                         static_cast<unsigned long long>(stats.bytesIn),
                         static_cast<unsigned long long>(stats.bytesOut), ratio);
        }
    } catch (const BuildError& e) {
        std::fprintf(stderr, "%s%s\n", o.midLine ? "\n" : "", e.where().c_str());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory: %s\n", o.project.c_str(), std::strerror(ENOMEM));
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", o.project.c_str(), e.what());
        return 1;
    }
    return 0;
}
