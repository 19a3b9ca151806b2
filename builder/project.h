// A Quillset project: an INI-style file that names the product, its pages,
// texts, files and shell work, compiled into the installation script and the
// file groups of one package.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>
#include "package_writer.h"

namespace quillset {

// An error in a project or in what it names: reported as FILE:LINE: message.
struct BuildError : std::runtime_error {
    std::string file;
    int line;
    BuildError(const std::string& file, int line, const std::string& message)
        : std::runtime_error(message), file(file), line(line)
    {
    }
    // Without a line (0) the message concerns the file as a whole.
    std::string where() const { return file + (line > 0 ? ":" + std::to_string(line) : "") + ": " + what(); }
};

struct IniKey {
    std::string name, value;   // the name in lower case
    int line = 0;
    std::string written;       // the name as written
};

struct IniSection {
    std::string name;   // lower case, as written between the brackets
    int line = 0;
    std::vector<IniKey> keys;
};

// Sections in file order; ';' and '#' start comments; keys keep their order.
std::vector<IniSection> ParseIni(const std::string& text, const std::string& file);

// Where a group's files come from, resolved but not yet read.
struct SourceFile {
    std::string path;            // on the build machine
    int line = 0;                // the project's line that names it
    bool walked = false;         // found in a folder or by a wildcard, not named itself
    PackageEntry entry;          // name, parent index, flags, times, version
};

struct GroupPlan {
    FileGroup group;             // destination and rules
    std::vector<SourceFile> files;
};

struct Project {
    std::string path;            // the project file
    std::string folder;          // relative paths start here
    std::string runtime;         // [build] runtime=, resolved; empty: the default
    std::string output;          // [build] output=, resolved; empty: next to the project
    std::vector<std::string> inputs;   // the other files read: text tables, licence, information
    Bytes script;                // the installation script's records
    std::vector<GroupPlan> groups;
    uint64_t fileCount = 0, unpackedBytes = 0;
};

// Where each of PLAN's entries lands on the user's machine: the group's
// destination, the folders above the entry and its name, joined by '\'.
std::vector<std::string> InstalledPaths(const GroupPlan& plan);

// Reads, checks and compiles PATH; TEXTS_DIR holds the default text tables.
// Throws BuildError before anything is written.
Project LoadProject(const std::string& path, const std::string& textsDir);

// UTF-8 (the project's encoding) to the package's ANSI code page; text that
// is no UTF-8, or a character the code page lacks (named as U+XXXX), is an
// error at FILE:LINE.
std::string ToCodePage(const std::string& utf8, unsigned codePage, const std::string& file, int line);

// Why Windows could not create a file or folder of this name (UTF-8): a
// forbidden or control character, a trailing dot or blank, a reserved device
// name; empty when it can.
std::string WindowsNameProblem(const std::string& name);

// The file version of a PE file's version resource (0, 0 when it has none).
bool ReadPeVersion(const std::string& path, uint32_t* ms, uint32_t* ls);

// Adds what SOURCE names (a file, a folder with all it holds, or a wildcard
// in its last part, with RECURSIVE also in every subfolder) to PLAN.
void AddSource(GroupPlan& plan, const std::string& folder, const std::string& source, bool recursive, bool compress,
               unsigned codePage, const std::string& project, int line, Project& totals);

// Refuses (BuildError) an OUTPUT that is, or whose part file OUTPUT.part is,
// a file the build reads: the project, the RUNTIME image, a text table, the
// licence or information file, or a source. Returns the files found in a
// source folder or by a wildcard that the build leaves out: the output when
// it is a package of an earlier build, and unfinished packages (.part files).
std::vector<const SourceFile*> CheckOutput(const Project& project, const std::string& output,
                                           const std::string& runtime = "");

// Writes the package to OUTPUT: the files are read and compressed in pieces on
// several threads, with a bounded number of pieces in memory, and written in
// plan order, so the bytes depend only on the inputs. The package grows in
// OUTPUT.part, renamed to OUTPUT when complete; any failure (BuildError), or
// SIGINT, SIGTERM or SIGHUP, removes the part file and leaves OUTPUT as it was.
struct BuildStats {
    uint64_t filesIn = 0, bytesIn = 0, bytesOut = 0;
};
void WritePackageFile(const Bytes& runtime, const Project& project, const std::string& output, BuildStats* stats,
                      void (*progress)(const BuildStats&, void*) = nullptr, void* context = nullptr);

}  // namespace quillset
