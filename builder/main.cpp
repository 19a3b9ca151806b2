// quillset-build: compiles a project file into one installer package.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    "  -v, --verbose    name every file as it is packed\n"
    "  --help           show this help\n"
    "  --version        show the version\n";

struct Options {
    std::string project, output, runtime, texts;
    bool quiet = false, verbose = false, terminal = false;
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

std::string FirstExisting(std::initializer_list<fs::path> candidates)
{
    for (const auto& c : candidates) {
        std::error_code error;
        if (fs::exists(c, error))
            return c.u8string();
    }
    return "";
}

void Report(const BuildStats& stats, void* context)
{
    const Options& o = *static_cast<const Options*>(context);
    if (o.quiet || !o.terminal)
        return;
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
    fs::path here = ProgramFolder(argv[0]);
    if (o.texts.empty())
        o.texts = FirstExisting({ here / "../share/quillset/texts", here / "texts", fs::u8path(QUILLSET_SOURCE_TEXTS) });
    try {
        Project project = LoadProject(o.project, o.texts);
        std::string runtimePath = !o.runtime.empty() ? o.runtime : project.runtime;
        if (runtimePath.empty())
            runtimePath = FirstExisting({ here / "../share/quillset/quillset.exe", here / "quillset.exe",
                                          fs::u8path(QUILLSET_BUILD_RUNTIME) });
        std::ifstream in(fs::u8path(runtimePath), std::ios::binary);
        if (runtimePath.empty() || !in)
            throw BuildError(o.project, 0, "cannot read the runtime image \"" + runtimePath +
                                               "\" (give it with --runtime)");
        Bytes runtime((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string output = !o.output.empty() ? o.output : project.output;
        if (output.empty())
            output = (fs::u8path(o.project).parent_path() / fs::u8path(o.project).stem()).u8string() + ".exe";
        if (o.verbose)
            for (const auto& plan : project.groups)
                for (const auto& f : plan.files)
                    std::fprintf(stderr, "%s -> %s\n", f.path.empty() ? f.entry.name.c_str() : f.path.c_str(),
                                 plan.group.destination.c_str());
        BuildStats stats;
        WritePackageFile(runtime, project, output, &stats, Report, &o);
        if (!o.quiet) {
            double ratio = stats.bytesIn ? 100.0 * stats.bytesOut / stats.bytesIn : 100.0;
            std::fprintf(stderr, "%s%s: %llu files, %llu bytes in, %llu out (%.1f%%)\n", o.terminal ? "\r" : "",
                         output.c_str(), static_cast<unsigned long long>(stats.filesIn),
                         static_cast<unsigned long long>(stats.bytesIn),
                         static_cast<unsigned long long>(stats.bytesOut), ratio);
        }
    } catch (const BuildError& e) {
        std::fprintf(stderr, "%s\n", e.where().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", o.project.c_str(), e.what());
        return 1;
    }
    return 0;
}
