// INF files as setupapi reads them, and the installation of their sections: what the stand-in's rundll32
// runs for InstallHinfSection and for the printer class installer behind PrintUIEntry.
#pragma once

#include "machine.h"

#include <functional>
#include <map>

namespace kqwin::inf {

// A line of a section: the key before '=' (when there is one) and the comma-separated fields, quotes removed.
// %strkey% tokens are kept until the line is read, so that a string holding a comma stays one field.
struct Line {
    bool hasKey = false;
    std::string key;
    std::vector<std::string> fields;
    std::string Field(size_t i) const { return i < fields.size() ? fields[i] : std::string(); }
};

struct File {
    std::string path;   // Windows path
    std::string folder; // the folder it lies in
    std::map<std::string, std::vector<Line>> sections; // by lower-case name, same-named sections merged
};

// Reads an INF of Windows 95 or NT style: 0, or the error setupapi gives for it.
DWORD Open(const std::string& windowsPath, File* out);

// An INF with the INFs appended to it by Include=; sections are found in the first file that has them. The
// installers fill `dirids` with the folders that %dirid% and [DestinationDirs] may name.
class InfSet {
  public:
    explicit InfSet(File primary);
    const File& Primary() const { return *files_.front(); }
    DWORD Append(const std::string& windowsPath);
    const File* Owner(const std::string& section) const;
    bool Has(const std::string& section) const { return Owner(section) != nullptr; }
    // The section's lines with strings and dirids substituted; empty when there is no such section.
    std::vector<Line> Read(const std::string& section) const;
    // The same of one particular file: [DestinationDirs] and the source layout belong to the INF whose file
    // lists name them.
    std::vector<Line> ReadIn(const File& file, const std::string& section) const;
    // The fields of every line of `section` whose key is `key`, in order.
    std::vector<std::string> Values(const std::string& section, const std::string& key) const;
    std::string Substitute(const File& file, const std::string& text) const;

    std::map<int, std::string> dirids;
    std::string sourceRoot; // where source files are looked for: the INF's folder unless an installer says otherwise

  private:
    std::vector<std::unique_ptr<File>> files_;
};

// Carries out the directives of install sections: CopyFiles, DelFiles, AddReg, DelReg, Include and Needs.
class Installer {
  public:
    // `placed`, when given, hears of each file a CopyFiles puts in place (copied, or kept as its flags ask):
    // its target and source paths.
    using PlacedFile = std::function<void(const std::string& target, const std::string& source)>;
    explicit Installer(InfSet& set, PlacedFile placed = nullptr) : set_(set), placed_(std::move(placed)) {}
    // 0, or the error of the directive that failed.
    DWORD Run(const std::string& section); // Include, Needs, then the section's own directives
    DWORD InstallFiles(const std::string& section);    // DelFiles, then CopyFiles
    DWORD InstallRegistry(const std::string& section); // DelReg, then AddReg

  private:
    DWORD Include(const std::string& section);
    DWORD Needs(const std::string& section);
    DWORD CopyFiles(const std::string& section);
    DWORD CopyList(const File& owner, const std::string& entry);
    DWORD CopyOne(const File& owner, const std::string& listSection, const std::string& destName,
                  const std::string& sourceName, DWORD flags);
    DWORD DelFiles(const std::string& listSection);
    DWORD AddReg(const std::string& listSection);
    DWORD DelReg(const std::string& listSection);
    DWORD Destination(const File& owner, const std::string& listSection, std::string* folder) const;
    DWORD SourcePath(const File& owner, const std::string& name, std::string* path) const;

    InfSet& set_;
    PlacedFile placed_;
};

// The standard directory ids of this machine (10, 11, 12, 17, 24).
std::map<int, std::string> StandardDirids();
// Installs the first existing of `section` and its platform decorations, as setupapi does for
// InstallHinfSection ("<section> <mode> <inf path>").
DWORD InstallHinfSection(const std::string& commandTail);

// Helpers of the parser that the installers use too.
DWORD ParseNumber(const std::string& text);
std::string TrimBlanks(std::string_view s);
bool IsDigits(const std::string& s);

} // namespace kqwin::inf
