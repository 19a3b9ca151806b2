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
    std::string where() const { return file + ":" + std::to_string(line) + ": " + what(); }
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
    PackageEntry entry;          // name, parent index, flags, times, version; no data yet
};

struct GroupPlan {
    FileGroup group;             // destination and rules; entries stay empty
    std::vector<SourceFile> files;
};

struct Project {
    std::string path;            // the project file
    std::string folder;          // relative paths start here
    std::string runtime;         // [build] runtime=, resolved; empty: the default
    std::string output;          // [build] output=, resolved; empty: next to the project
    Bytes script;                // the installation script's records
    std::vector<GroupPlan> groups;
    uint64_t fileCount = 0, unpackedBytes = 0;
};

// Reads, checks and compiles PATH; TEXTS_DIR holds the default text tables.
// Throws BuildError before anything is written.
Project LoadProject(const std::string& path, const std::string& textsDir);

// UTF-8 (the project's encoding) to the package's ANSI code page.
std::string ToCodePage(const std::string& utf8, unsigned codePage, const std::string& file, int line);

// The file version of a PE file's version resource (0, 0 when it has none).
bool ReadPeVersion(const std::string& path, uint32_t* ms, uint32_t* ls);

// Adds what SOURCE names (a file, a folder with all it holds, or a wildcard
// in its last part, with RECURSIVE also in every subfolder) to PLAN.
void AddSource(GroupPlan& plan, const std::string& folder, const std::string& source, bool recursive, bool compress,
               unsigned codePage, const std::string& project, int line, Project& totals);

// Writes the package to OUTPUT: the files are read, compressed on every core
// and written in plan order, so the bytes depend only on the inputs.
struct BuildStats {
    uint64_t filesIn = 0, bytesIn = 0, bytesOut = 0;
};
void WritePackageFile(const Bytes& runtime, const Project& project, const std::string& output, BuildStats* stats,
                      void (*progress)(const BuildStats&, void*) = nullptr, void* context = nullptr);

}  // namespace quillset
