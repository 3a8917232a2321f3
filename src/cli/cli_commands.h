#pragma once
// The subcommands of parevo-cli, one function each, returning the exit code;
// cli.cpp parses the command line and calls the one asked for.

#include <iosfwd>
#include <string>
#include <vector>

#include "archive/rar_component.h"
#include "archive/zip_component.h"
#include "platform/batch_prompter.h"
#include "trim/trim_rom.h"

namespace parevo {

class Dat;

struct CliOptions {
    std::vector<std::string> files;
    std::string byteJump;
    bool safeTrim = true;
    bool trimSceneNumber = false;
    bool headerName = false;
    std::string appendText = "_trim";
    std::string outputDir;
    bool noOutputDir = false;
    bool deleteSource = false;
    std::string settingsFile;
    std::string password;
    bool noSettings = false;
    bool status = false;
    bool dryRun = false;
    bool keepGoing = false;
    bool info = false;
    bool json = false;
    bool untrim = false;
    std::string untrimSize;
    std::string padByte;
    std::string datFile;
    bool noDat = false;
    bool verify = false;
};

// What every subcommand works with: the words of the command line, the options
// they and the settings file give, the DAT (none without one) and the streams.
struct CliRun {
    const CliOptions& cli;
    TrimOptions options;
    const Dat* dat = nullptr;
    std::ostream& out;
    std::ostream& err;

    // Prints `error: <text>` after what was printed so far.
    void Error(const std::string& text) const;
};

// The archive components as the window has them, with nobody there to answer
// their questions: the batch prompter answers so that nothing is lost, and each
// question and RAR error is printed to stderr.
class TerminalArchives {
  public:
    explicit TerminalArchives(const CliRun& run);
    ZipComponent& Zip() { return m_zip; }
    RarComponent& Rar() { return m_rar; }
    int RarErrors() const { return m_rarErrors; }

  private:
    BatchPrompter m_prompter;
    ZipComponent m_zip;
    RarComponent m_rar;
    int m_rarErrors = 0;
};

// Says on stderr why the core passed over `path` without a line; true when it
// is not there, which is an error.
bool NotePassedOver(const std::string& path, std::ostream& out, std::ostream& err);

// --info [--json]: what each image is.
int RunInfo(const CliRun& run);
// --verify: each image against the DAT.
int RunVerify(const CliRun& run);
// --untrim: each image to its full length.
int RunUntrim(const CliRun& run);

}  // namespace parevo
