#pragma once
// The command-line layer both tools share, on CLI11: the options are declared once on a
// CLI::App, and --help, the man page and the bash completion are all written from that
// declaration and one ToolText, so they cannot drift apart.
//
// Adding an option is one line in the tool's declaration, e.g.
//   cli.app.add_flag("--robust", o.robust, "Decode with the tolerant path.");
// Description texts: paragraphs separated by "\n\n"; a line starting with two spaces is
// kept as it is (tables, examples).

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace tavrel {

/// The parts of a tool's help and man page that are not options.
struct ToolText {
  const char* name;         ///< program name, e.g. "tavrel-decode"
  const char* summary;      ///< one line: what it does, lower case, no full stop
  const char* operands;     ///< the operands after [OPTIONS], e.g. "FILE..."
  const char* description;  ///< paragraphs
  const char* exit_status;  ///< paragraphs
  const char* examples;     ///< one command per line
};

/// A tool's command line: the CLI11 app and the choices behind its completion.
struct Cli {
  CLI::App app;
  const ToolText* text = nullptr;
  bool quiet = false;    ///< -q: nothing on standard error but errors
  std::string generate;  ///< hidden --generate=man|bash, for the build
  struct Choices {
    std::string option;  ///< its names as a case pattern, "--channel"
    std::vector<std::string> values;
  };
  std::vector<Choices> choices;           ///< values the completion offers
  std::vector<std::string> file_options;  ///< patterns of options whose value names a file
};

/// Sets up -h/--help, -V/--version, -q/--quiet and the generators on `cli.app`.
void cli_begin(Cli& cli, const ToolText& text);

/// Parses the command line. On --help, --version or --generate it writes the text and
/// exits 0; on a wrong command line it writes the message and exits 2.
void cli_parse(Cli& cli, std::vector<std::string> args);

/// Writes "NAME: message" and "Try 'NAME --help'." to standard error and exits 2.
[[noreturn]] void cli_usage_error(const Cli& cli, const std::string& message);

/// Adds an option taking one of `values`; a wrong one is refused as
/// "--channel takes left or right, not up".
CLI::Option* cli_choice(Cli& cli, const std::string& names, std::string& value,
                        std::vector<std::string> values, const std::string& help);

/// Adds an option taking a number from `low` to `high`, refused otherwise as
/// "--noise takes a number between 0 and 1, not 2".
template <typename T>
CLI::Option* cli_number(Cli& cli, const std::string& names, T& value, double low, double high,
                        const std::string& value_name, const std::string& help);

/// Adds an option whose value names a file (completed as one).
CLI::Option* cli_file(Cli& cli, const std::string& names, std::string& value,
                      const std::string& help);

/// The --help text.
std::string cli_help(const Cli& cli);

/// The man page, in roff.
std::string cli_man_page(const Cli& cli);

/// A bash completion script.
std::string cli_bash_completion(const Cli& cli);

/// A number as a person writes it: 0, 0.5, 86400, 4294967295.
std::string number_text(double v);

/// "left or right", "8, 16, 24 or float".
std::string choice_text(const std::vector<std::string>& values);

/// `text` with every "{name}" of `values` replaced by its value, so that help texts show
/// the numbers from the constants that own them, e.g. "{rate}" from sample_rate.
std::string cli_fill(std::string text,
                     const std::vector<std::pair<std::string, std::string>>& values);

// Checks the value text before CLI11 converts it.
CLI::Option* cli_number_check(Cli& cli, CLI::Option* option, double low, double high);

template <typename T>
CLI::Option* cli_number(Cli& cli, const std::string& names, T& value, double low, double high,
                        const std::string& value_name, const std::string& help) {
  return cli_number_check(cli, cli.app.add_option(names, value, help)->type_name(value_name), low,
                          high);
}

}  // namespace tavrel
