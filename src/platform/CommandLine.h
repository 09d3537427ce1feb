// The program's positional arguments, read from one command line with the tokenising rules the
// tool has always used: runs of characters 1..32 separate arguments, a double quote opens a stretch
// that runs to the next one, and an empty pair of quotes where an argument would begin is skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ab {

class CommandLine {
  public:
    // `line` is the whole command line; its first token names the program and is not an argument.
    // `programPath` is argument 0, the full path of the program file.
    CommandLine(std::u16string_view line, std::u16string programPath);

    // The running process: argv joined back into one line (see Join) and argument 0 taken from
    // /proc/self/exe (argv[0] when that link cannot be read).
    static CommandLine FromArgv(int argc, const char* const* argv);

    // Joins arguments into one line: each is wrapped in double quotes when it is empty or holds a
    // character with a code from 1 to 32, so an empty argument becomes "" and is skipped as an
    // empty quoted argument. Other characters, double quotes included, are kept as they stand.
    static std::u16string Join(const std::vector<std::u16string>& args);

    // Number of arguments after argument 0.
    int ParamCount() const { return static_cast<int>(params_.size()); }
    // Argument 0 is the program path; a missing argument reads as empty text.
    std::u16string ParamStr(int index) const;
    // The folder of argument 0 with its trailing separator; empty when the path has none.
    std::u16string ProgramFolder() const;

  private:
    std::u16string programPath_;
    std::vector<std::u16string> params_;
};

}  // namespace ab
