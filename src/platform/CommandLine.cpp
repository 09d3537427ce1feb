// Command-line tokenising and the process's own arguments.
#include "platform/CommandLine.h"

#include <unistd.h>

#include <climits>

#include "platform/Text.h"

namespace ab {
namespace {

bool IsSeparator(char16_t c) {
    return c >= 1 && c <= 32;
}

// Reads one argument starting at `pos`; returns false when the line holds no further argument.
bool NextToken(std::u16string_view line, std::size_t& pos, std::u16string& token) {
    // Separators and empty quote pairs before an argument are skipped alike.
    for (;;) {
        while (pos < line.size() && IsSeparator(line[pos]))
            ++pos;
        if (pos + 1 < line.size() && line[pos] == u'"' && line[pos + 1] == u'"') {
            pos += 2;
        } else {
            break;
        }
    }
    if (pos >= line.size() || line[pos] == 0)
        return false;
    token.clear();
    while (pos < line.size() && line[pos] != 0 && !IsSeparator(line[pos])) {
        if (line[pos] == u'"') {
            ++pos;
            while (pos < line.size() && line[pos] != 0 && line[pos] != u'"')
                token += line[pos++];
            if (pos < line.size() && line[pos] == u'"')
                ++pos;
        } else {
            token += line[pos++];
        }
    }
    return true;
}

bool NeedsQuotes(std::u16string_view arg) {
    if (arg.empty())
        return true;
    for (char16_t c : arg) {
        if (IsSeparator(c))
            return true;
    }
    return false;
}

}  // namespace

CommandLine::CommandLine(std::u16string_view line, std::u16string programPath)
    : programPath_(std::move(programPath)) {
    std::size_t pos = 0;
    std::u16string token;
    if (!NextToken(line, pos, token))
        return;  // the program's own name
    while (NextToken(line, pos, token))
        params_.push_back(token);
}

CommandLine CommandLine::FromArgv(int argc, const char* const* argv) {
    std::u16string program;
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof buffer) {
        program = FromFileName(std::string_view(buffer, static_cast<std::size_t>(n)));
    } else if (argc > 0 && argv[0] != nullptr) {
        program = FromFileName(argv[0]);
    }
    // The program token is always quoted (and stripped of quotes, which a path on the original
    // system could not hold), so neither an empty argv[0] nor its characters shift the arguments.
    std::u16string token = program;
    std::erase(token, u'"');
    if (token.empty())
        token = u"AtualizadorBrevant";
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(FromFileName(argv[i] != nullptr ? argv[i] : ""));
    std::u16string line = u"\"" + token + u"\"";
    if (!args.empty())
        line += u" " + Join(args);
    return CommandLine(line, program);
}

std::u16string CommandLine::Join(const std::vector<std::u16string>& args) {
    std::u16string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0)
            line += u' ';
        if (NeedsQuotes(args[i])) {
            line += u'"' + args[i] + u'"';
        } else {
            line += args[i];
        }
    }
    return line;
}

std::u16string CommandLine::ParamStr(int index) const {
    if (index == 0)
        return programPath_;
    if (index < 0 || index > ParamCount())
        return {};
    return params_[static_cast<std::size_t>(index - 1)];
}

std::u16string CommandLine::ProgramFolder() const {
    const std::size_t slash = programPath_.find_last_of(u'/');
    if (slash == std::u16string::npos)
        return {};
    return programPath_.substr(0, slash + 1);
}

}  // namespace ab
