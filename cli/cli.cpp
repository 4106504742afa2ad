#include "cli/cli.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tavrel_version.hpp"

namespace tavrel {

constexpr size_t help_width = 88;  ///< columns of the --help text
constexpr const char* common_group = "common";

// Thrown from value checks: CLI11 would prefix its own errors with the option name.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string number_text(double v) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, v).ptr;
  return std::string(text, end);
}

std::string cli_fill(std::string text,
                     const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    const std::string key = "{" + name + "}";
    for (size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  }
  return text;
}

std::string choice_text(const std::vector<std::string>& values) {
  std::string out;
  for (size_t k = 0; k < values.size(); ++k) {
    if (k > 0) out += k + 1 == values.size() ? " or " : ", ";
    out += values[k];
  }
  return out;
}

[[noreturn]] void cli_usage_error(const Cli& cli, const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", cli.text->name, message.c_str(),
               cli.text->name);
  std::exit(2);
}

void cli_begin(Cli& cli, const ToolText& text) {
  cli.text = &text;
  cli.app.name(text.name);
  cli.app.set_help_flag();  // our own, below, with our own text
  cli.app.add_flag("-h,--help")->description("Show this text.")->group(common_group);
  cli.app.add_flag("-V,--version")->description("Show the version number.")->group(common_group);
  cli.app.add_flag("-q,--quiet", cli.quiet, "Write nothing on standard error but errors.")
      ->group(common_group);
  cli.app.add_option("--generate", cli.generate)->group("");  // hidden: man, bash
}

// "-o|--output": the option's names as a shell case pattern.
static std::string case_pattern(const CLI::Option* o) {
  std::string out;
  for (const auto& n : o->get_snames()) out += (out.empty() ? "-" : "|-") + n;
  for (const auto& n : o->get_lnames()) out += (out.empty() ? "--" : "|--") + n;
  return out;
}

CLI::Option* cli_choice(Cli& cli, const std::string& names, std::string& value,
                        std::vector<std::string> values, const std::string& help) {
  CLI::Option* option = cli.app.add_option(names, value, help)->type_name([&] {
    std::string joined;
    for (const auto& v : values) joined += (joined.empty() ? "" : "|") + v;
    return joined;
  }());
  const std::string name = option->get_name();
  option->each([name, values](const std::string& v) {
    for (const auto& allowed : values)
      if (v == allowed) return;
    throw UsageError(name + " takes " + choice_text(values) + ", not " + v);
  });
  cli.choices.push_back({case_pattern(option), std::move(values)});
  return option;
}

CLI::Option* cli_number_check(Cli&, CLI::Option* option, double low, double high) {
  const std::string name = option->get_name();
  option->each([name, low, high](const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !(v >= low && v <= high)) {
      throw UsageError(name + " takes a number between " + number_text(low) + " and " +
                       number_text(high) + ", not " + text);
    }
  });
  return option;
}

CLI::Option* cli_file(Cli& cli, const std::string& names, std::string& value,
                      const std::string& help) {
  CLI::Option* option = cli.app.add_option(names, value, help)->type_name("FILE");
  cli.file_options.push_back(case_pattern(option));
  return option;
}

// The options in the order of the help: the tool's own, then the common ones.
static std::vector<const CLI::Option*> listed_options(const Cli& cli) {
  std::vector<const CLI::Option*> out;
  for (const bool common : {false, true}) {
    for (const CLI::Option* o : cli.app.get_options()) {
      if (!o->nonpositional() || o->get_group().empty()) continue;
      if ((o->get_group() == common_group) == common) out.push_back(o);
    }
  }
  return out;
}

// "-o, --output FILE", "--invert[=auto]": the names as written on a command line.
static std::vector<std::string> option_names(const CLI::Option* o) {
  std::vector<std::string> names;
  for (const auto& s : o->get_snames()) names.push_back("-" + s);
  for (const auto& l : o->get_lnames()) names.push_back("--" + l);
  return names;
}

static std::string option_value(const CLI::Option* o) {
  const std::string type = o->get_type_name();
  if (!type.empty() && type[0] == '[') return type;
  if (o->get_items_expected_max() == 0 || type.empty()) return "";
  return " " + type;
}

static std::string option_label(const CLI::Option* o) {
  std::string label;
  for (const auto& n : option_names(o)) label += (label.empty() ? "" : ", ") + n;
  return label + option_value(o);
}

// Paragraphs split at blank lines; each is either flowing text or verbatim lines.
struct Paragraph {
  bool verbatim;
  std::vector<std::string> lines;
};

static std::vector<Paragraph> paragraphs(const std::string& text) {
  std::vector<Paragraph> out;
  std::istringstream in(text);
  bool open = false;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) {
      open = false;
      continue;
    }
    const bool verbatim = line.rfind("  ", 0) == 0;
    if (!open || out.back().verbatim != verbatim) out.push_back({verbatim, {}});
    out.back().lines.push_back(line);
    open = true;
  }
  return out;
}

static void wrap(std::string& out, const std::string& text, size_t indent) {
  const std::string margin(indent, ' ');
  for (const Paragraph& p : paragraphs(text)) {
    if (p.verbatim) {
      for (const auto& line : p.lines) out += margin + line + "\n";
    } else {
      std::string words;
      for (const auto& line : p.lines) words += (words.empty() ? "" : " ") + line;
      std::istringstream in(words);
      std::string line;
      for (std::string word; in >> word;) {
        if (!line.empty() && indent + line.size() + 1 + word.size() > help_width) {
          out += margin + line + "\n";
          line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
      }
      if (!line.empty()) out += margin + line + "\n";
    }
    out += "\n";
  }
}

static std::string synopsis(const Cli& cli) {
  return std::string(cli.text->name) + " [OPTIONS] " + cli.text->operands;
}

std::string cli_help(const Cli& cli) {
  const ToolText& t = *cli.text;
  std::string out = "NAME\n    " + std::string(t.name) + " - " + t.summary + "\n\n";
  out += "SYNOPSIS\n    " + synopsis(cli) + "\n\nDESCRIPTION\n";
  wrap(out, t.description, 4);
  out += "OPTIONS\n";
  for (const CLI::Option* o : listed_options(cli)) {
    out += "    " + option_label(o) + "\n";
    wrap(out, o->get_description(), 8);
  }
  out += "EXIT STATUS\n";
  wrap(out, t.exit_status, 4);
  out += "EXAMPLES\n";
  std::istringstream in(t.examples);
  for (std::string line; std::getline(in, line);) out += "    " + line + "\n";
  return out;
}

// Text for roff: backslashes and minus signs escaped, no line starting with a control
// character.
static std::string roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

static void roff_text(std::string& out, const std::string& text, bool indented) {
  bool first = true;
  for (const Paragraph& p : paragraphs(text)) {
    if (!first) out += indented ? ".IP\n" : ".PP\n";
    first = false;
    if (p.verbatim) out += ".nf\n";
    for (const auto& line : p.lines) out += roff(line) + "\n";
    if (p.verbatim) out += ".fi\n";
  }
}

static std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string cli_man_page(const Cli& cli) {
  const ToolText& t = *cli.text;
  std::string out =
      ".\\\" Written by " + std::string(t.name) + " --generate=man from its --help.\n";
  out += ".TH " + roff(upper(t.name)) + " 1 \"\" \"tavrel " + tavrel_version +
         "\" \"User Commands\"\n";
  out += ".SH NAME\n" + roff(t.name) + " \\- " + roff(t.summary) + "\n";
  out +=
      ".SH SYNOPSIS\n.B " + roff(t.name) + "\n[\\fIOPTIONS\\fR] \\fI" + roff(t.operands) + "\\fR\n";
  out += ".SH DESCRIPTION\n";
  roff_text(out, t.description, false);
  out += ".SH OPTIONS\n";
  for (const CLI::Option* o : listed_options(cli)) {
    out += ".TP\n";
    std::string label;
    for (const auto& n : option_names(o))
      label += (label.empty() ? "" : ", ") + ("\\fB" + roff(n) + "\\fR");
    const std::string value = option_value(o);
    if (!value.empty()) label += "\\fI" + roff(value) + "\\fR";
    out += label + "\n";
    roff_text(out, o->get_description(), true);
  }
  out += ".SH \"EXIT STATUS\"\n";
  roff_text(out, t.exit_status, false);
  out += ".SH EXAMPLES\n.nf\n";
  std::istringstream in(t.examples);
  for (std::string line; std::getline(in, line);) out += roff(line) + "\n";
  out += ".fi\n";
  return out;
}

std::string cli_bash_completion(const Cli& cli) {
  const std::string name = cli.text->name;
  std::string function = "_" + name;
  for (char& c : function)
    if (c == '-') c = '_';
  std::string words;
  std::string valued;
  for (const CLI::Option* o : listed_options(cli)) {
    for (const auto& n : option_names(o)) {
      words += (words.empty() ? "" : " ") + n;
      if (o->get_items_expected_max() > 0) valued += (valued.empty() ? "" : "|") + n;
    }
  }
  std::string out = "# bash completion for " + name + ", written by " + name +
                    " --generate=bash from its options\n";
  out +=
      function + "() {\n  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n";
  out += "  case $prev in\n";
  for (const auto& c : cli.choices) {
    std::string values;
    for (const auto& v : c.values) values += (values.empty() ? "" : " ") + v;
    out +=
        "    " + c.option + ") COMPREPLY=($(compgen -W '" + values + "' -- \"$cur\")); return ;;\n";
  }
  for (const auto& f : cli.file_options)
    out += "    " + f + ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
  if (!valued.empty()) out += "    " + valued + ") return ;;\n";
  out += "  esac\n";
  out += "  if [[ $cur == -* ]]; then\n    COMPREPLY=($(compgen -W '" + words + "' -- \"$cur\"))\n";
  const bool files = std::string(cli.text->operands).find("FILE") != std::string::npos;
  if (files) out += "  else\n    COMPREPLY=($(compgen -f -- \"$cur\"))\n";
  out += "  fi\n}\ncomplete -o filenames -F " + function + " " + name + "\n";
  return out;
}

void cli_parse(Cli& cli, std::vector<std::string> args) {
  std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
  for (CLI::Option* option : cli.app.get_options()) {
    if (option->get_positional()) continue;
    // As with getopt, an option of one value given twice takes the later one.
    if (option->get_expected_max() == 1 && option->get_type_size_max() == 1)
      option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    // An option of a fixed number of values takes that many and no more: CLI11 lets one
    // stored in a list take every word up to the next option, FILE operands too.
    const int values = option->get_items_expected_max();
    if (values > 1 && values == option->get_items_expected_min()) option->allow_extra_args(false);
  }
  try {
    cli.app.parse(args);
  } catch (const UsageError& e) {
    cli_usage_error(cli, e.what());
  } catch (const CLI::ExtrasError&) {
    const auto extra = cli.app.remaining();
    cli_usage_error(cli, "unknown option " + (extra.empty() ? std::string() : extra.front()));
  } catch (const CLI::ArgumentMismatch& e) {
    const std::string what = e.what();  // "--clock: 1 required 64|32|16 missing"
    cli_usage_error(cli, "missing value after " + what.substr(0, what.find(':')));
  } catch (const CLI::ParseError& e) {
    cli_usage_error(cli, e.what());
  }
  if (cli.app.count("--help") > 0) {
    std::fputs(cli_help(cli).c_str(), stdout);
    std::exit(0);
  }
  if (cli.app.count("--version") > 0) {
    std::printf("%s %s\n", cli.text->name, tavrel_version);
    std::exit(0);
  }
  if (!cli.generate.empty()) {
    if (cli.generate == "man") {
      std::fputs(cli_man_page(cli).c_str(), stdout);
    } else if (cli.generate == "bash") {
      std::fputs(cli_bash_completion(cli).c_str(), stdout);
    } else {
      cli_usage_error(cli, "--generate takes man or bash, not " + cli.generate);
    }
    std::exit(0);
  }
}

}  // namespace tavrel
